#pragma once

#include "cli/terminalprogress.h"

#include <QString>

// Standard output and standard error of the command line. Every line is flushed at once,
// so that a script reading the output sees each file as soon as it is done. A line is one
// line whatever it holds: line breaks in it are shown as " | ", and control and direction
// characters are left out, but for the tabs between printLine()'s fields.
class Console
{
public:
    Console();

    // Text as it is on standard output: the program's own, such as the help.
    void printText(const QString& text);
    // One line on standard output.
    void printLine(const QString& line);
    // One line on standard error, as "quillo: text".
    void printProblem(const QString& text);
    TerminalProgress& progress() { return progress_; }

private:
    TerminalProgress progress_;
};
