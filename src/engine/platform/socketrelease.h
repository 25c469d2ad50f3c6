#pragma once

#include <QAbstractSocket>

#include <chrono>

// Letting go of a socket at any moment, inside one of its own signals included. Qt goes on
// using a socket's state once a handler returns (the TLS session above all: an abort in
// the middle of a failed handshake frees what the handshake then writes its alert with), so
// a socket is never closed or deleted on the spot. These cut it off from owner at once,
// so that owner hears nothing more from it, and close it from the event loop.

// Aborts socket, then deletes it.
void abortLater(QAbstractSocket* socket, const QObject* owner);
// Closes socket once it has written what it holds, or after grace at the latest, then
// deletes it. The socket must not be a child of something that goes sooner.
void closeLater(QAbstractSocket* socket, const QObject* owner, std::chrono::milliseconds grace);

class QSslSocket;
class TlsSocket;
void abortLater(TlsSocket* socket, const QObject* owner);
void closeLater(TlsSocket* socket, const QObject* owner, std::chrono::milliseconds grace);
// Lets go of an encrypted socket of owner: when graceful and its handshake is done, its
// last messages are handed over within grace while keeper holds it; otherwise, and when
// there is no keeper, it is aborted. A flood of handshakes that never finished must not
// leave a flood of sockets in their grace.
void releaseSecureSocket(QSslSocket* socket, const QObject* owner, QObject* keeper, bool graceful,
                         std::chrono::milliseconds grace);
void releaseSecureSocket(TlsSocket* socket, const QObject* owner, QObject* keeper, bool graceful,
                         std::chrono::milliseconds grace);
