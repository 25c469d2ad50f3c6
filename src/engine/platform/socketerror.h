#pragma once

#include <QAbstractSocket>
#include <QString>

// Socket errors are shown to users as numbers. We number them as Windows Sockets does,
// so that "Error 10061" means "refused" on every platform and to every peer's user.
struct SocketError {
    int number = 0;
    QString description;
};

// errorString is Qt's description of the error; it tells apart the cases that Qt folds
// into one enum value (host and network unreachable are both NetworkError).
SocketError socketError(QAbstractSocket::SocketError error, const QString& errorString);
