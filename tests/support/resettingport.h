#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QTcpServer>

#include <sys/socket.h>
#include <unistd.h>

// A hostile port: it takes every connection and resets it at once, before a byte is
// read or written, and keeps when each came (milliseconds from its start).
class ResettingPort : public QTcpServer
{
public:
    ResettingPort() { clock_.start(); }

    int connections() const { return int(times.size()); }
    QList<qint64> times;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        times.append(clock_.elapsed());
        const linger reset{1, 0};
        ::setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(int(descriptor));
    }

private:
    QElapsedTimer clock_;
};
