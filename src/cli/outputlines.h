#pragma once

#include "cli/peerlookup.h"
#include "transfer/filereceiver.h"
#include "transfer/filesender.h"

#include <QString>

// The lines the command line prints. Finished files go to standard output, one
// tab-separated line each, for scripts to read; problems go to standard error, for people.

// "received<TAB>saved path<TAB>size<TAB>peer address<TAB>private" (or "plain" as the
// last field), for a file saved whole.
QString receivedLine(const ReceiveEnd& end);
// "sent<TAB>path<TAB>size<TAB>peer address<TAB>private" (or "plain"), for a file the
// receiver confirmed whole.
QString sentLine(const QString& path, qint64 size, const QString& peer, bool isPrivate);

// "online<TAB>name<TAB>address" or "offline<TAB>name<TAB>address".
// chat<TAB>name<TAB>address<TAB>text, with the text's line breaks shown as the window
// shows them, as " | ", and no control or direction characters anywhere.
QString chatLine(const QString& name, const QString& address, const QString& text);
QString onlineStateLine(const QString& name, const QString& address, bool online);

// What went wrong with a connection that did not end Saved.
QString receiveProblem(const ReceiveEnd& end);
// What went wrong with a file that was not sent; status and detail are the sender's last.
QString sendProblem(const QString& path, const QString& peer, SendOutcome outcome,
                    const QString& status, const QString& detail);
// Why a peer named with --to could not be found.
QString hostNotFoundProblem(const QString& to, const Peer& peer);
