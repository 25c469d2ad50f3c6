#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QPointer>

// The ports of one user are held by one copy at a time, and handed over between a window
// and a serve or receive through two local sockets in the user's runtime folder:
// "quillo-window", held by a window for its whole life, and "quillo-ports", held by a
// serve or receive while it holds the ports. A window claims the ports by connecting to
// the second and keeps that connection for its life: the holder gives them up and says
// "released", and takes them back once the connection is gone, whatever ended it.
class PortHandover : public QObject
{
    Q_OBJECT

public:
    // folder: the user's runtime folder, private to the user.
    explicit PortHandover(const QString& folder, QObject* parent = nullptr);

    // For a window. Whether another window of this user runs; it is then asked to come to
    // the front by the connection itself.
    bool otherWindowRuns();
    // For a window: holds "quillo-window", so that later windows bring this one forward
    // (raiseAsked()) instead of opening.
    void holdWindow();
    // For a window: whether a serve or receive holds the ports and was asked for them;
    // portsReleased() follows once it has given them up.
    bool claimPorts();

    // For serve and receive once they hold the ports: a window's claim is told by
    // claimed(), to be answered with released(); its end by returned().
    void holdPorts();
    void released();

    // Closes every socket: the ports go back to whoever lent them.
    void end();

Q_SIGNALS:
    void raiseAsked();
    void portsReleased();
    void claimed();
    void returned();

private:
    QString path(const char* name) const;
    bool listen(QLocalServer& server, const char* name);
    void takeClaim();
    void claimAnswered();

    QString folder_;
    QLocalServer windowServer_;
    QLocalServer portsServer_;
    QPointer<QLocalSocket> claim_;   // a window's claim, on the holder's side
    QPointer<QLocalSocket> claimer_; // this window's claim, kept for its life
    bool released_ = false;
};
