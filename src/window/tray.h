#pragma once

#include <QString>

#include <functional>
#include <memory>

class Desktop;

// What the tray icon's menu does: each entry calls one of these.
struct TrayActions {
    std::function<void()> showWindow;
    std::function<void()> openSaveFolder;
    std::function<void()> showReceivedFiles;
    std::function<void()> quit;
};

// The program's icon in the desktop's tray: a tooltip that says what the program is doing,
// a menu, and notifications. Tests pass a stand-in that records what it was told.
class Tray
{
public:
    virtual ~Tray() = default;

    virtual void setToolTip(const QString& text) = 0;
    // A notification. Clicking it shows the file in its folder, or the window when
    // filePath is empty.
    virtual void notify(const QString& title, const QString& text, const QString& filePath) = 0;
};

// The real tray icon, or none when the desktop has no tray.
std::unique_ptr<Tray> newSystemTray(const TrayActions& actions, Desktop& desktop);
