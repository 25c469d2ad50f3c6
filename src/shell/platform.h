#pragma once

#include <functional>
#include <memory>

class Clock;
class Desktop;
class Dialogs;
class RandomSource;
class NonClientSkinInterface;
class SettingsStore;

// What the program needs from the machine, handed to the window at its creation. The
// program passes the real ones; tests pass scripted dialogs, a fixed clock, a settings
// file in a temporary folder and, where they look at the skin, a stand-in for the
// skinning component.
struct Platform {
    Dialogs& dialogs;
    Desktop& desktop;
    SettingsStore& settings;
    Clock& clock;
    RandomSource& random;
    // Creates the window's skinning object.
    std::function<std::unique_ptr<NonClientSkinInterface>()> newSkin;
};
