#pragma once

#include "cli/command.h"
#include "cli/sendcommand.h"
#include "platform/clock.h"

#include <chrono>
#include <memory>

class Console;

// quillo send --when-online: listens on the presence port until the peer announces
// itself, then sends the files as quillo send would.
class WhenOnlineCommand : public Command
{
    Q_OBJECT

public:
    // timeoutSeconds 0 waits for ever; station and clock must outlive the command.
    WhenOnlineCommand(Station& station, const Peer& peer, const QString& to,
                      const QStringList& files, int timeoutSeconds, Console& console,
                      Clock& clock = systemClock(), QObject* parent = nullptr);

    // As SendCommand's, once the peer has come online.
    void setRetry(int seconds) { send_.setRetry(seconds); }
    std::optional<int> start() override;
    void stop() override;

private:
    void heardAnnounced(const QString& address);
    void timedOut();

    Station& station_;
    SendCommand send_;
    std::chrono::seconds timeout_;
    std::unique_ptr<Alarm> timeoutAlarm_;
    QHostAddress peerAddress_;
    Console& console_;
    QString to_;
    bool sending_ = false;
};
