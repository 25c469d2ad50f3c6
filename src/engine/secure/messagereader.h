#pragma once

#include "secure/privatemessage.h"

#include <QByteArray>

class QIODevice;

// Cuts the bytes of the private port into messages. A message's body is read straight into
// a buffer of its announced length, which its type bounds, so each byte is copied once on
// its way from the socket to the message.
class MessageReader
{
public:
    enum class Result { NeedMore, Message, Malformed };

    // Bytes to be read before any from a device.
    void feed(const QByteArray& bytes);
    // The next whole message in out, NeedMore when none is whole yet, or Malformed (for
    // good: the reader takes no more) when a header is not one of a message. Reads what was
    // fed first, then from device, if any, no further than the message's end.
    Result next(PrivateMessage& out, QIODevice* device = nullptr);
    // Bytes fed or read and not yet taken as messages.
    qint64 buffered() const;

private:
    qint64 take(char* to, qint64 most, QIODevice* device);

    QByteArray fed_;
    qsizetype fedStart_ = 0;
    char header_[kMessageHeaderBytes] = {}; // of the message under way
    qint64 headerHas_ = 0;
    QByteArray body_; // of its announced length
    qsizetype bodyHas_ = 0;
    bool malformed_ = false;
};
