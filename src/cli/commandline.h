#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <variant>

// What the command line asks for, before anything is done about it.
struct CommandLine {
    enum class Action {
        Window,
        Help,
        Version,
        Receive,
        Send,
        Chat,
        Listen,
        Online,
        Serve,
        Key,
        Forget
    };
    Action action = Action::Window;
    QString helpTopic; // for Help: the subcommand asked about, or empty for all of them
    QHostAddress bindAddress = QHostAddress(QHostAddress::Any);
    QString folder;          // receive and serve --dir; empty for the stored save folder
    bool once = false;       // receive --once
    bool onlyKnown = false;  // receive and serve --only-known
    bool human = false;      // listen --human: words instead of tab-separated fields
    QString to;              // send and chat --to: a name in the address book, an address or a host
    QStringList toList;      // send: every --to, in order; each may name several people
    QStringList files;       // send
    bool whenOnline = false; // send --when-online
    int timeoutSeconds = 0;  // send --timeout; 0 waits for ever
    int retrySeconds = 0;    // send --retry; 0 gives up at once
    bool localSend = false;  // send --localsend: the peer is a LocalSend device
    QString pin;             // send --pin: the PIN a LocalSend device asks for
    int waitSeconds = 70;    // online --wait: a little over one round of announcements
    QString text;            // chat
    QString name;            // key and forget: a name in the address book; empty for key: our own
    bool compared = false;   // key NAME --compared
};

struct UsageError {
    QString message;
    QString topic; // the subcommand whose help would have helped, or empty
};

using ParsedCommandLine = std::variant<CommandLine, UsageError>;

// arguments as QCoreApplication::arguments() gives them, the program first.
ParsedCommandLine parseCommandLine(const QStringList& arguments);
