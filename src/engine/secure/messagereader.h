#pragma once

#include "secure/privatemessage.h"

#include <QByteArray>

// Collects the peer's messages from the bytes of a connection, however they are split.
// It holds at most one message beyond what it was asked for, and judges a message's
// type and length from its header, before its body has come.
class MessageReader
{
public:
    enum class Result { NeedMore, Message, Malformed };

    void feed(const QByteArray& bytes);
    // The next whole message in out, NeedMore when none is whole yet, or Malformed (for
    // good: the reader takes no more) when a header is not one of a message.
    Result next(PrivateMessage& out);
    // Bytes fed and not yet taken as messages.
    qint64 buffered() const { return buffer_.size() - start_; }

private:
    QByteArray buffer_;
    qsizetype start_ = 0;
    bool malformed_ = false;
};
