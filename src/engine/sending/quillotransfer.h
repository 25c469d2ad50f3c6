#pragma once

#include "sending/filesender.h"
#include "sending/recipienttransfer.h"
#include "sending/sendbatch.h"

class Identity;
class PeerKeys;
class RandomSource;

// A recipient reached by this program's own protocols: privately where it speaks the
// private protocol, plain where it does not, as a single person's batch goes. It has a
// sender of its own, so that several run side by side without sharing a connection.
class QuilloTransfer : public RecipientTransfer
{
    Q_OBJECT

public:
    // random, clock, identity and keys must outlive the transfer; a null identity sends
    // plain, as FileSender::setPrivacy() says.
    QuilloTransfer(const Recipient& recipient, RandomSource& random,
                   const QHostAddress& bindAddress, Clock& clock, const Identity* identity,
                   PeerKeys* keys, QObject* parent = nullptr);

    // As FileSender's.
    void setRefusalRetries(int count, std::chrono::milliseconds longestWait);
    // As FileSender's: a recipient that is a LocalSend device is sent to by its protocol.
    // Nobody is asked for a PIN while several people are sent to, so a device that wants
    // one ends its files not sent, as an empty answer does.
    void setDevices(DeviceBook* devices, const DeviceInfo& own);
    void start(const QList<QueuedFile>& files) override;
    void stop() override;

private:
    QString address_;
    FileSender sender_;
    SendBatch batch_;
};
