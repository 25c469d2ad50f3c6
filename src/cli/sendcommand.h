#pragma once

#include "cli/command.h"
#include "cli/peerlookup.h"
#include "platform/randomsource.h"
#include "transfer/filesender.h"
#include "transfer/sendbatch.h"

class Console;

// quillo send: the window's send queue, without the window. Every file goes on a
// connection of its own, exactly as a batch started from the window would send it.
class SendCommand : public Command
{
    Q_OBJECT

public:
    SendCommand(const QHostAddress& bindAddress, const Peer& peer, const QString& to,
                const QStringList& files, Console& console, QObject* parent = nullptr);

    std::optional<int> start() override;
    void stop() override;
    void setPrivacy(const Identity* identity, PeerKeys* keys) override
    {
        sender_.setPrivacy(identity, keys);
    }

private:
    void rowStarted(int row, int rows, const QString& path, const QString& host, qint64 size);
    void rowSkipped(int row, int rows, const QString& path);
    void rowFinished(int row, const QString& path, qint64 size, const QString& host,
                     SendOutcome outcome);
    void tellHostNotFound();

    UnseededRandom random_;
    FileSender sender_;
    SendBatch batch_;
    Console& console_;
    Peer peer_;
    QString to_;
    QString status_; // the sender's last words on the file in progress
    QString detail_;
    bool sentPrivately_ = false; // how the file in hand goes
    bool allSent_ = true;
    bool toldHostNotFound_ = false;
};
