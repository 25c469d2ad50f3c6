#pragma once

#include <QString>

class Console;
class Station;

// quillo key [NAME]: this installation's safety code, made the first time, or the code
// this installation and the entry named name compare (see pairCode()). Returns the exit
// status.
int printSafetyCode(const QString& name, const Station& station, Console& console);

// quillo forget NAME: forgets the key kept for the entry named name and writes the address
// book, so that the next private connection with its address pins the key it shows.
int forgetKey(const QString& name, Station& station, Console& console);

// quillo key NAME --compared: the person compared the codes and found them the same; the
// entry's key is marked compared, and the address book written.
int markCompared(const QString& name, Station& station, Console& console);
