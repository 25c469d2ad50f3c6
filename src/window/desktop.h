#pragma once

#include <QString>

// What the desktop does for the program outside its window: opening files and folders in
// the user's own programs. Tests pass a stand-in that records what was asked.
class Desktop
{
public:
    virtual ~Desktop() = default;

    // Opens a folder in the file manager.
    virtual void openFolder(const QString& folder) = 0;
    // Opens a file with the program the desktop associates with it.
    virtual void openFile(const QString& path) = 0;
    // Opens the folder that holds a file, in the file manager.
    virtual void showInFolder(const QString& path) = 0;
};

// The real desktop, through QDesktopServices.
class QtDesktop : public Desktop
{
public:
    void openFolder(const QString& folder) override;
    void openFile(const QString& path) override;
    void showInFolder(const QString& path) override;
};
