#include "secure/privatemessage.h"

#include "text/peertext.h"

#include <QtEndian>

namespace
{

const QByteArray kMagic = QByteArrayLiteral("QUILLO");
constexpr int kHelloBytes = 12;
constexpr int kNumberBytes = 8;
constexpr qint64 kLargestNumber = std::numeric_limits<qint64>::max();

struct Bounds {
    qint64 least;
    qint64 most;
};

std::optional<Bounds> boundsOf(quint8 type)
{
    switch (MessageType(type)) {
    case MessageType::Hello:
        return Bounds{kHelloBytes, kHelloBytes};
    case MessageType::File:
        return Bounds{kNumberBytes + 1, kNumberBytes + kMaxPathBytes};
    case MessageType::Accept:
    case MessageType::Count:
        return Bounds{kNumberBytes, kNumberBytes};
    case MessageType::Refuse:
    case MessageType::Failed:
    case MessageType::Error:
        return Bounds{1, 1 + kMaxReasonTextBytes};
    case MessageType::Data:
        return Bounds{1, kMaxDataBytes};
    case MessageType::End: // one check or the other, nothing between (isValidMessage)
        return Bounds{Checksum::bytes(Checksum::Kind::Xxh3_128),
                      Checksum::bytes(Checksum::Kind::Sha256)};
    case MessageType::Chat:
        return Bounds{0, kMaxChatBytes};
    case MessageType::Saved:
    case MessageType::Heard:
    case MessageType::Bye:
        return Bounds{0, 0};
    }
    return std::nullopt;
}

QByteArray bigEndian64(qint64 number)
{
    QByteArray bytes(kNumberBytes, Qt::Uninitialized);
    qToBigEndian<quint64>(quint64(number), bytes.data());
    return bytes;
}

std::optional<qint64> number64(const char* bytes)
{
    const quint64 number = qFromBigEndian<quint64>(bytes);
    if (number > quint64(kLargestNumber))
        return std::nullopt;
    return qint64(number);
}

// UTF-8 of text, at most limit bytes, never ending inside a character.
QByteArray utf8Within(const QString& text, int limit)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= limit)
        return bytes;
    qsizetype end = limit;
    while (end > 0 && (quint8(bytes.at(end)) & 0xC0) == 0x80)
        --end;
    bytes.truncate(end);
    return bytes;
}

} // namespace

bool isValidMessage(quint8 type, qint64 length)
{
    const std::optional<Bounds> bounds = boundsOf(type);
    if (bounds && MessageType(type) == MessageType::End)
        return length == bounds->least || length == bounds->most;
    return bounds && length >= bounds->least && length <= bounds->most;
}

QByteArray dataHeader(qint64 length)
{
    QByteArray header(kMessageHeaderBytes, Qt::Uninitialized);
    header[0] = char(MessageType::Data);
    qToBigEndian<quint32>(quint32(length), header.data() + 1);
    return header;
}

QByteArray encodeMessage(MessageType type, const QByteArray& body)
{
    QByteArray message = dataHeader(body.size());
    message[0] = char(type);
    return message + body;
}

QByteArray helloMessage(quint16 version, quint32 features)
{
    QByteArray body = kMagic;
    body.resize(kHelloBytes);
    qToBigEndian<quint16>(version, body.data() + 6);
    qToBigEndian<quint32>(features, body.data() + 8);
    return encodeMessage(MessageType::Hello, body);
}

QByteArray fileMessage(qint64 size, const QByteArray& path)
{
    return encodeMessage(MessageType::File, bigEndian64(size) + path);
}

QByteArray acceptMessage(qint64 offset)
{
    return encodeMessage(MessageType::Accept, bigEndian64(offset));
}

QByteArray endMessage(const QByteArray& digest)
{
    return encodeMessage(MessageType::End, digest);
}

QByteArray countMessage(qint64 total)
{
    return encodeMessage(MessageType::Count, bigEndian64(total));
}

QByteArray chatMessage(const QString& line)
{
    return encodeMessage(MessageType::Chat, utf8Within(line, kMaxChatBytes));
}

QByteArray reasonMessage(MessageType type, Reason reason, const QString& text)
{
    return encodeMessage(type, char(reason) + utf8Within(text, kMaxReasonTextBytes));
}

std::optional<Hello> parseHello(const QByteArray& body)
{
    if (body.size() != kHelloBytes || !body.startsWith(kMagic))
        return std::nullopt;
    return Hello{qFromBigEndian<quint16>(body.constData() + 6),
                 qFromBigEndian<quint32>(body.constData() + 8)};
}

std::optional<FileOffer> parseFileOffer(const QByteArray& body)
{
    if (body.size() <= kNumberBytes || body.size() > kNumberBytes + kMaxPathBytes)
        return std::nullopt;
    const std::optional<qint64> size = number64(body.constData());
    if (!size)
        return std::nullopt;
    return FileOffer{*size, body.mid(kNumberBytes)};
}

std::optional<qint64> parseNumber(const QByteArray& body)
{
    if (body.size() != kNumberBytes)
        return std::nullopt;
    return number64(body.constData());
}

std::optional<ReasonText> parseReason(const QByteArray& body)
{
    if (body.isEmpty() || body.size() > 1 + kMaxReasonTextBytes)
        return std::nullopt;
    const auto number = quint8(body.at(0));
    const bool known = number >= quint8(Reason::NameUnusable) && number <= quint8(Reason::Stopping);
    return ReasonText{known ? Reason(number) : Reason::Unknown,
                      shownOnOneLine(QString::fromUtf8(body.mid(1)))};
}

std::optional<QString> parseChat(const QByteArray& body)
{
    if (body.size() > kMaxChatBytes)
        return std::nullopt;
    return QString::fromUtf8(body);
}

int pipelineWindow(quint32 features)
{
    if ((features & kFeaturePipeline) == 0)
        return 1;
    return (features & kFeatureEager) != 0 ? kEagerPipelineWindow : kPipelineWindow;
}

bool goesEagerly(quint32 features, qint64 size)
{
    return (features & kFeatureEager) != 0 && size <= kEagerBytes;
}

Checksum::Kind fileCheckOf(quint32 features)
{
    return features & kFeatureQuickCheck ? Checksum::Kind::Xxh3_128 : Checksum::Kind::Sha256;
}

std::chrono::milliseconds readBackAllowance(qint64 offset)
{
    constexpr qint64 kSlowDiskBytesPerSecond = 32 * 1024 * 1024;
    return std::chrono::seconds(offset / kSlowDiskBytesPerSecond);
}
