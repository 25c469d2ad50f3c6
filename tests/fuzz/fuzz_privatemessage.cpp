// Gives arbitrary bytes, split at an arbitrary place, to the private port's message reader,
// the first part fed and the rest read from a device, and every message it yields to the
// body parsers: whatever a peer sends, a message
// taken is within its type's bounds, reads back the same once encoded again, and the
// reader never holds more than one message beyond what it was given last.
#include "secure/messagereader.h"
#include "secure/privatemessage.h"

#include <QBuffer>

#include <cstdint>
#include <cstdlib>

namespace
{

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkBody(const PrivateMessage& message)
{
    check(isValidMessage(quint8(message.type), message.body.size()));
    // END holds one check or the other, as the HELLOs agree, and nothing between.
    if (message.type == MessageType::End)
        check(message.body.size() == Checksum::bytes(Checksum::Kind::Xxh3_128) ||
              message.body.size() == Checksum::bytes(Checksum::Kind::Sha256));
    if (const std::optional<FileOffer> offer = parseFileOffer(message.body))
        check(offer->size >= 0 && !offer->path.isEmpty() && offer->path.size() <= kMaxPathBytes);
    if (const std::optional<qint64> number = parseNumber(message.body))
        check(*number >= 0);
    if (const std::optional<ReasonText> reason = parseReason(message.body))
        check(reason->text.toUtf8().size() <= kMaxReasonTextBytes * 3);
    // The same message, encoded again, reads back whole and alike.
    MessageReader again;
    again.feed(encodeMessage(message.type, message.body));
    PrivateMessage copy;
    check(again.next(copy) == MessageReader::Result::Message);
    check(copy.type == message.type && copy.body == message.body);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first byte says where the input is cut into two arrivals.
    if (size == 0)
        return 0;
    const std::size_t cut = size > 1 ? data[0] % size : 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    // The first arrival is fed, the second read from the socket as the connection does.
    MessageReader reader;
    QByteArray rest = bytes.mid(qsizetype(cut));
    QBuffer socket(&rest);
    socket.open(QIODevice::ReadOnly);
    reader.feed(bytes.left(qsizetype(cut)));
    PrivateMessage message;
    MessageReader::Result result;
    while ((result = reader.next(message, &socket)) == MessageReader::Result::Message)
        checkBody(message);
    // Only what makes up the message under way is held, never more than its bound.
    check(reader.buffered() <= kMessageHeaderBytes + kMaxDataBytes);
    check(result == MessageReader::Result::Malformed || socket.atEnd());
    return 0;
}
