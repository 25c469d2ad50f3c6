#pragma once

#include <QString>

#include <functional>

class Console;
class QObject;
class Station;

// The lines that tell a person at a terminal, on standard error, that a command that runs
// until stopped has started, and where it listens; standard output stays for scripts.

// A folder as a person writes it: "~/Downloads" for one in the home folder.
QString shownFolder(const QString& folder);
// "receiving into ~/Downloads on TCP 1052 and 1053 (private)", or on 1052 alone when the
// station has no private port.
QString receivingNote(const Station& station);
// "announcing to 3 people", counting the address book.
QString announcingNote(const Station& station);

// Lends the station's ports to a window of this user that claims them, through folder,
// and says so on standard error when they go and when they come back; ready() tells
// where the station then receives.
void lendPortsToWindow(Station& station, const QString& folder, Console& console,
                       const QObject* receiver, std::function<QString()> ready);

// The online and chat lines of serve and listen on standard output, as tab-separated
// fields, and chat lines held back on standard error.
void printPresenceLines(const Station& station, Console& console, const QObject* receiver);
