#pragma once

// Connections that come and go and say next to nothing, as a port scanner or a careless
// client makes them: each one connects from one of a few source addresses, sends nothing
// or a few bytes of a broken TLS greeting, closes its sending side and waits for the
// other end to close too. A bounded number are open at once, and a new one starts as soon
// as one has ended, so the flood goes as fast as the other end takes them.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>

class FloodClient;

class ConnectionFlood : public QObject
{
    Q_OBJECT

public:
    struct Counts {
        int connected = 0;    // the other end took the connection
        int failed = 0;       // no connection was made
        int closedByPeer = 0; // the other end closed it
        int timedOut = 0;     // still open, or still connecting, when its time ran out
    };

    ConnectionFlood(const QHostAddress& target, quint16 port, const QList<QHostAddress>& sources,
                    int total, int atOnce, QObject* parent = nullptr);

    void start();
    bool isDone() const { return ended_ == total_; }
    const Counts& counts() const { return counts_; }
    double seconds() const { return seconds_; }

Q_SIGNALS:
    void finished();

private:
    void fill();
    void clientEnded(const FloodClient& client);

    QHostAddress target_;
    quint16 port_;
    QList<QHostAddress> sources_;
    int total_;
    int atOnce_;
    int started_ = 0;
    int ended_ = 0;
    Counts counts_;
    QElapsedTimer clock_;
    double seconds_ = 0;
};
