#pragma once

#include <QString>

// Whether the settings file can be used, as the station found it at start.
struct SettingsCheck {
    enum class State {
        Usable,
        Unreadable,    // the file exists but cannot be read at all: writing would lose it
        DamagedKept,   // part of it could not be read; copy holds the file as it was
        DamagedNoCopy, // part of it could not be read, and no copy of it could be made
    };
    State state = State::Usable;
    QString file;        // the settings file's path
    QString copy;        // DamagedKept: where the file as it was is kept
    int number = 0;      // Unreadable: the system's error
    QString description; // Unreadable: the system's words for it
};
