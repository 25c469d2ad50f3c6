#include "secure/messagereader.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <cstring>

void MessageReader::feed(const QByteArray& bytes)
{
    if (malformed_)
        return;
    if (fedStart_ > 0) {
        fed_.remove(0, fedStart_);
        fedStart_ = 0;
    }
    fed_.append(bytes);
}

qint64 MessageReader::buffered() const
{
    return fed_.size() - fedStart_ + headerHas_ + bodyHas_;
}

// Up to most bytes into to, from what was fed, then from device; how many.
qint64 MessageReader::take(char* to, qint64 most, QIODevice* device)
{
    const qint64 fed = std::min<qint64>(most, fed_.size() - fedStart_);
    if (fed > 0) {
        std::memcpy(to, fed_.constData() + fedStart_, size_t(fed));
        fedStart_ += fed;
        if (fedStart_ == fed_.size()) {
            fed_.clear();
            fedStart_ = 0;
        }
    }
    if (!device || fed == most)
        return fed;
    return fed + std::max<qint64>(device->read(to + fed, most - fed), 0);
}

MessageReader::Result MessageReader::next(PrivateMessage& out, QIODevice* device)
{
    if (malformed_)
        return Result::Malformed;
    if (headerHas_ < kMessageHeaderBytes) {
        headerHas_ += take(header_ + headerHas_, kMessageHeaderBytes - headerHas_, device);
        if (headerHas_ < kMessageHeaderBytes)
            return Result::NeedMore;
        const auto type = quint8(header_[0]);
        const quint32 length = qFromBigEndian<quint32>(header_ + 1);
        if (!isValidMessage(type, length)) {
            malformed_ = true;
            fed_.clear();
            fedStart_ = 0;
            headerHas_ = 0;
            return Result::Malformed;
        }
        body_ = QByteArray(qsizetype(length), Qt::Uninitialized);
        bodyHas_ = 0;
    }
    while (bodyHas_ < body_.size()) {
        const qint64 got = take(body_.data() + bodyHas_, body_.size() - bodyHas_, device);
        if (got == 0)
            return Result::NeedMore;
        bodyHas_ += got;
    }
    out.type = MessageType(quint8(header_[0]));
    out.body = std::exchange(body_, QByteArray());
    headerHas_ = bodyHas_ = 0;
    return Result::Message;
}
