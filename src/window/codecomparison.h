#pragma once

#include <QString>

class QDialog;
class QWidget;

// What the person said of the code both screens show. A dialog closed any other way
// (Escape, its frame) finishes with 0: not now.
enum class Comparison { NotNow = 0, Match = 2, Differ = 3 };

// The dialog in which two people compare the code their copies show: text says what to do,
// the code stands large in a fixed-width face, to be read aloud across a desk, and the
// buttons say "They Match", "They Differ" and "Not Now". It deletes itself when closed;
// QDialog::finished() gives the Comparison, as an int.
QDialog* newCodeComparison(const QString& text, const QString& code, QWidget* parent);
