#include "secure/messagereader.h"

#include <QtEndian>

void MessageReader::feed(const QByteArray& bytes)
{
    if (malformed_)
        return;
    // What was taken is dropped once it is most of the buffer, so a long run of small
    // arrivals costs no more than copying each byte once or twice.
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.remove(0, start_);
        start_ = 0;
    }
    buffer_.append(bytes);
}

MessageReader::Result MessageReader::next(PrivateMessage& out)
{
    if (malformed_)
        return Result::Malformed;
    if (buffered() < kMessageHeaderBytes)
        return Result::NeedMore;
    const char* header = buffer_.constData() + start_;
    const auto type = quint8(header[0]);
    const quint32 length = qFromBigEndian<quint32>(header + 1);
    if (!isValidMessage(type, length)) {
        malformed_ = true;
        buffer_.clear();
        start_ = 0;
        return Result::Malformed;
    }
    if (buffered() < kMessageHeaderBytes + qint64(length))
        return Result::NeedMore;
    out.type = MessageType(type);
    out.body = buffer_.mid(start_ + kMessageHeaderBytes, length);
    start_ += kMessageHeaderBytes + length;
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    return Result::Message;
}
