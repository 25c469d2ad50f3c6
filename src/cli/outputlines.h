#pragma once

#include "cli/peerlookup.h"
#include "transfer/receiveend.h"
#include "transfer/sendoutcome.h"

#include <QString>

// The lines the command line prints. Finished files go to standard output, one
// tab-separated line each, for scripts to read; problems go to standard error, for people.
// Every name, path and text in them is shown on one line (text/peertext.h), so that
// no peer can add a field or a line of its own.

// "received<TAB>saved path<TAB>size<TAB>peer address<TAB>private" (or "plain" or "localsend" as the
// last field), for a file saved whole.
QString receivedLine(const ReceiveEnd& end);
// "sent<TAB>path<TAB>size<TAB>peer address<TAB>private" (or "plain"), for a file the
// receiver confirmed whole.
QString sentLine(const QString& path, qint64 size, const QString& peer, bool isPrivate,
                 bool isLocalSend = false);

// "chat<TAB>name<TAB>address<TAB>text", the text's line breaks shown as " | ".
QString chatLine(const QString& name, const QString& address, const QString& text);
// "online<TAB>name<TAB>address" or "offline<TAB>name<TAB>address".
QString onlineStateLine(const QString& name, const QString& address, bool online);

// What went wrong with a connection that did not end Saved.
QString receiveProblem(const ReceiveEnd& end);
// What went wrong with a file that was not sent.
QString sendProblem(const SendEnd& end);
// Whether the file was not sent because its receiver's host name could not be looked up.
bool hostNotFound(const SendEnd& end);
// Why a peer named with --to could not be found.
QString hostNotFoundProblem(const QString& to, const Peer& peer);
