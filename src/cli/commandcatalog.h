#pragma once

#include "cli/commandline.h"

#include <QList>
#include <QString>
#include <QStringList>

// The subcommands, their options and the lines they print on standard output: the one list
// the parser is built from, the help prints its output lines from, and the manual page and
// README are checked against, so that none of them can tell another story.

struct CommandOption {
    QString name;  // without the dashes
    QString value; // the word for its value; empty for a switch
};

struct Subcommand {
    QString name;
    CommandLine::Action action;
    QList<CommandOption> options; // besides --help, which every subcommand takes
};

const QList<Subcommand>& subcommandList();
// Null when there is no subcommand of that name.
const Subcommand* findSubcommand(const QString& name);

struct OutputLineKind {
    QString kind; // the first field
    QStringList fields;
};

const QList<OutputLineKind>& outputLineKinds();
// "sent<TAB>path<TAB>size<TAB>peer address<TAB>private or plain", as the help shows it.
QString outputLineShape(const QString& kind);
