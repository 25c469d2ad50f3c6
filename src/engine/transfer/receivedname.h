#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// The name a received file is saved under. A sender announces a bare name, but nothing
// stops it from sending a path: everything up to the last "/" or "\" is dropped. Nor does
// a name arrive hidden or in disguise: invisible characters (direction overrides,
// zero-width marks, controls) are dropped too, and so are blanks at either end and dots
// at the start, until the name starts with neither. A name with an ASCII control
// character, one that shows nothing (spaces, fillers and the like alone), or one that
// still could not be a file of its own in the save folder, is refused.
// Returns the name, or nothing when it is refused.
std::optional<QString> receivedFileName(const QByteArray& announced);

// The first of name, "name (1).ext", "name (2).ext", ... "name (9999).ext" for which
// isTaken says no, or the empty text when all are taken.
QString firstFreeName(const QString& name, const std::function<bool(const QString&)>& isTaken);
