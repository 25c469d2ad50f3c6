#pragma once

#include <QString>

class Console;
class Station;

// quillo key [NAME]: this installation's safety code, made the first time, or the code of
// the key kept for the entry named name. Returns the exit status.
int printSafetyCode(const QString& name, const Station& station, Console& console);

// quillo forget NAME: forgets the key kept for the entry named name and writes the address
// book, so that the next private connection with its address pins the key it shows.
int forgetKey(const QString& name, Station& station, Console& console);
