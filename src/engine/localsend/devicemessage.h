#pragma once

#include "localsend/deviceclient.h"
#include "localsend/messages.h"

#include <QObject>

class DeviceBook;

// One chat line to a LocalSend device, as such devices take text: an offer of a single
// text file whose preview is the text. A device that wants the file too gets it.
class DeviceMessage : public QObject
{
    Q_OBJECT

public:
    // devices must outlive the message.
    DeviceMessage(DeviceBook& devices, const DeviceInfo& own, QObject* parent = nullptr);

    void send(const QString& host, const QString& text);

Q_SIGNALS:
    // problem is empty when the device took the line.
    void done(const QString& problem);

private:
    void answered(QNetworkReply* reply, bool offering);

    DeviceClient client_;
    DeviceBook& devices_;
    DeviceInfo own_;
    QString host_;
    QByteArray text_;
};
