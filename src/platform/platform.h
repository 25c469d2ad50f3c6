#pragma once

class Clock;
class Dialogs;
class RandomSource;
class SettingsStore;

// What the program needs from the machine, handed to the window at its creation. The
// program passes the real ones; tests pass scripted dialogs, a fixed clock and a
// settings file in a temporary folder.
struct Platform {
    Dialogs& dialogs;
    SettingsStore& settings;
    Clock& clock;
    RandomSource& random;
};
