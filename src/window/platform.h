#pragma once

#include <QString>

#include <functional>
#include <memory>

class Clock;
class Desktop;
class Dialogs;
class RandomSource;
class NonClientSkinInterface;
class SettingsStore;
class Tray;
struct TrayActions;

// What the program needs from the machine, handed to the window at its creation. The
// program passes the real ones; tests pass scripted dialogs, a desktop and a tray that
// record what they are asked, a fixed clock, settings and data in a temporary folder and,
// where they look at the skin, a stand-in for the skinning component.
struct Platform {
    Dialogs& dialogs;
    Desktop& desktop;
    SettingsStore& settings;
    Clock& clock;
    RandomSource& random;
    // Creates the window's skinning object.
    std::function<std::unique_ptr<NonClientSkinInterface>()> newSkin;
    // Where the program keeps what it records for the user, such as the files received.
    QString dataFolder;
    // Creates the tray icon, or returns none where the desktop has no tray.
    std::function<std::unique_ptr<Tray>(const TrayActions&)> newTray;
    // Where this user's copies find each other to share the ports (the runtime folder);
    // empty shares nothing.
    QString runtimeFolder = {};
};
