#include "platform/checksum.h"
#include "secure/messagereader.h"
#include "secure/privatemessage.h"

#include <QBuffer>
#include <QtEndian>
#include <QtTest>

namespace
{

// The one message in bytes, read whole.
PrivateMessage readOne(const QByteArray& bytes)
{
    MessageReader reader;
    reader.feed(bytes);
    PrivateMessage message;
    if (reader.next(message) != MessageReader::Result::Message)
        return {MessageType::Error, "unread"};
    return message;
}

MessageReader::Result resultOf(quint8 type, qint64 length)
{
    QByteArray header(kMessageHeaderBytes, '\0');
    header[0] = char(type);
    qToBigEndian<quint32>(quint32(length), header.data() + 1);
    MessageReader reader;
    reader.feed(header + QByteArray(length, 'x'));
    PrivateMessage message;
    return reader.next(message);
}

QByteArray bodyOf(const QByteArray& bytes)
{
    return bytes.mid(kMessageHeaderBytes);
}

} // namespace

class TestPrivateMessage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyBuilderRoundTrips();
    void textsAreCutAtACharacterBoundary();
    void parsersRefuseWhatTheirTypeDoesNot();
    void lengthBounds_data();
    void lengthBounds();
    void unknownTypesAreMalformed();
    void messagesSplitAnywhereStillParse();
    void aHugeLengthIsMalformedBeforeItsBody();
    void theChecksMatchKnownVectors();
};

void TestPrivateMessage::everyBuilderRoundTrips()
{
    const QByteArray hello = helloMessage(7, 0x80000003);
    QCOMPARE(hello.left(5), QByteArray("\x01\x00\x00\x00\x0c", 5));
    QCOMPARE(bodyOf(hello).left(6), QByteArray("QUILLO"));
    const std::optional<Hello> parsedHello = parseHello(readOne(hello).body);
    QVERIFY(parsedHello);
    QCOMPARE(parsedHello->version, quint16(7));
    QCOMPARE(parsedHello->features, quint32(0x80000003));
    QCOMPARE(parseHello(bodyOf(helloMessage()))->version, kPrivateVersion);

    const qint64 big = std::numeric_limits<qint64>::max();
    const PrivateMessage file = readOne(fileMessage(big, "a.txt"));
    QCOMPARE(file.type, MessageType::File);
    QCOMPARE(parseFileOffer(file.body)->size, big);
    QCOMPARE(parseFileOffer(file.body)->path, QByteArray("a.txt"));
    QCOMPARE(bodyOf(fileMessage(0x0102, "n")), QByteArray("\0\0\0\0\0\0\x01\x02n", 9));

    QCOMPARE(readOne(acceptMessage(12)).type, MessageType::Accept);
    QCOMPARE(parseNumber(readOne(acceptMessage(12)).body), qint64(12));
    QCOMPARE(readOne(countMessage(big)).type, MessageType::Count);
    QCOMPARE(parseNumber(readOne(countMessage(big)).body), big);

    for (const Checksum::Kind kind : {Checksum::Kind::Sha256, Checksum::Kind::Xxh3_128}) {
        const QByteArray digest = Checksum::of(kind, "abc");
        QCOMPARE(readOne(endMessage(digest)).type, MessageType::End);
        QCOMPARE(readOne(endMessage(digest)).body, digest);
    }

    const QString line = QStringLiteral("Zoë says <b>hi</b>");
    QCOMPARE(readOne(chatMessage(line)).type, MessageType::Chat);
    QCOMPARE(parseChat(readOne(chatMessage(line)).body), line);
    QCOMPARE(parseChat(readOne(chatMessage(QString())).body), QString());

    for (const MessageType type : {MessageType::Refuse, MessageType::Failed, MessageType::Error}) {
        const PrivateMessage reason = readOne(reasonMessage(type, Reason::KeyChanged, "née"));
        QCOMPARE(reason.type, type);
        QCOMPARE(parseReason(reason.body)->reason, Reason::KeyChanged);
        QCOMPARE(parseReason(reason.body)->text, QStringLiteral("née"));
    }
    QCOMPARE(parseReason(QByteArray("\x63why"))->reason, Reason::Unknown);
    QCOMPARE(parseReason(QByteArray("\x63why"))->text, QStringLiteral("why"));
    // Shown in status lines, notices and terminals: on one line, steering nothing.
    const QByteArray hostile = "\143a\033[2Jb\r\nc\342\200\256d\te\007"; // ESC, U+202E, BEL
    QCOMPARE(parseReason(hostile)->text, QStringLiteral("a[2Jb | cde"));
    QCOMPARE(parseReason(QByteArray(1, '\0'))->reason, Reason::Unknown);

    for (const MessageType type : {MessageType::Saved, MessageType::Heard, MessageType::Bye})
        QCOMPARE(readOne(encodeMessage(type)).type, type);
    const QByteArray data = dataHeader(3) + "abc";
    QCOMPARE(readOne(data).type, MessageType::Data);
    QCOMPARE(readOne(data).body, QByteArray("abc"));
}

void TestPrivateMessage::textsAreCutAtACharacterBoundary()
{
    // 'é' is two bytes: a cut inside one drops the whole character.
    const QString longReason = QString(kMaxReasonTextBytes - 1, QLatin1Char('a')) + "éé";
    const QByteArray reason = reasonMessage(MessageType::Error, Reason::TooSlow, longReason);
    QCOMPARE(bodyOf(reason).size(), 1 + kMaxReasonTextBytes - 1);
    QCOMPARE(parseReason(bodyOf(reason))->text, QString(kMaxReasonTextBytes - 1, QLatin1Char('a')));

    const QString exact = QString(kMaxReasonTextBytes - 2, QLatin1Char('a')) + "é";
    QCOMPARE(parseReason(bodyOf(reasonMessage(MessageType::Error, Reason::TooSlow, exact)))->text,
             exact);

    const QString longChat = QString(kMaxChatBytes / 2, QChar(0x00E9)) + "x";
    const QByteArray chat = chatMessage(longChat);
    QCOMPARE(bodyOf(chat).size(), kMaxChatBytes);
    QCOMPARE(*parseChat(bodyOf(chat)), QString(kMaxChatBytes / 2, QChar(0x00E9)));
}

void TestPrivateMessage::parsersRefuseWhatTheirTypeDoesNot()
{
    const QByteArray hello = bodyOf(helloMessage());
    QVERIFY(!parseHello(hello.left(11)));
    QVERIFY(!parseHello(hello + "x"));
    QVERIFY(!parseHello(QByteArray("QUILLA") + hello.mid(6)));

    QVERIFY(!parseFileOffer(QByteArray(8, '\0')));
    QVERIFY(parseFileOffer(QByteArray(8, '\0') + QByteArray(kMaxPathBytes, 'p')));
    QVERIFY(!parseFileOffer(QByteArray(8, '\0') + QByteArray(kMaxPathBytes + 1, 'p')));
    QVERIFY(!parseFileOffer(QByteArray("\x80\0\0\0\0\0\0\0n", 9)));

    QVERIFY(!parseNumber(QByteArray(7, '\0')));
    QVERIFY(!parseNumber(QByteArray(9, '\0')));
    QVERIFY(!parseNumber(QByteArray("\x80\0\0\0\0\0\0\0", 8)));

    QVERIFY(!parseReason(QByteArray()));
    QVERIFY(parseReason(QByteArray(1 + kMaxReasonTextBytes, '\x01')));
    QVERIFY(!parseReason(QByteArray(2 + kMaxReasonTextBytes, '\x01')));
    QVERIFY(!parseChat(QByteArray(kMaxChatBytes + 1, 'c')));
}

void TestPrivateMessage::lengthBounds_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<qint64>("least");
    QTest::addColumn<qint64>("most");
    QTest::newRow("HELLO") << 0x01 << qint64(12) << qint64(12);
    QTest::newRow("FILE") << 0x10 << qint64(9) << qint64(4103);
    QTest::newRow("ACCEPT") << 0x11 << qint64(8) << qint64(8);
    QTest::newRow("REFUSE") << 0x12 << qint64(1) << qint64(1025);
    QTest::newRow("DATA") << 0x20 << qint64(1) << qint64(262144);
    QTest::newRow("END") << 0x21 << qint64(16) << qint64(32);
    QTest::newRow("COUNT") << 0x22 << qint64(8) << qint64(8);
    QTest::newRow("SAVED") << 0x23 << qint64(0) << qint64(0);
    QTest::newRow("FAILED") << 0x24 << qint64(1) << qint64(1025);
    QTest::newRow("CHAT") << 0x30 << qint64(0) << qint64(65536);
    QTest::newRow("HEARD") << 0x31 << qint64(0) << qint64(0);
    QTest::newRow("BYE") << 0x3F << qint64(0) << qint64(0);
    QTest::newRow("ERROR") << 0x7F << qint64(1) << qint64(1025);
}

void TestPrivateMessage::lengthBounds()
{
    QFETCH(int, type);
    QFETCH(qint64, least);
    QFETCH(qint64, most);
    using R = MessageReader::Result;
    QCOMPARE(resultOf(quint8(type), least), R::Message);
    QCOMPARE(resultOf(quint8(type), most), R::Message);
    QCOMPARE(resultOf(quint8(type), most + 1), R::Malformed);
    if (least > 0)
        QCOMPARE(resultOf(quint8(type), least - 1), R::Malformed);
    if (type == int(MessageType::End)) { // one check or the other, nothing between
        QCOMPARE(resultOf(quint8(type), least + 1), R::Malformed);
        QCOMPARE(resultOf(quint8(type), most - 1), R::Malformed);
    }
}

void TestPrivateMessage::unknownTypesAreMalformed()
{
    const QList<int> known{0x01, 0x10, 0x11, 0x12, 0x20, 0x21, 0x22,
                           0x23, 0x24, 0x30, 0x31, 0x3F, 0x7F};
    for (int type = 0; type < 256; ++type) {
        if (known.contains(type))
            continue;
        QCOMPARE(resultOf(quint8(type), 0), MessageReader::Result::Malformed);
        QCOMPARE(resultOf(quint8(type), 8), MessageReader::Result::Malformed);
    }
}

void TestPrivateMessage::messagesSplitAnywhereStillParse()
{
    const QByteArray stream = helloMessage() + fileMessage(5, "a.txt") + dataHeader(5) + "hello" +
                              endMessage(QByteArray(32, 'd')) + chatMessage("hi") +
                              encodeMessage(MessageType::Bye);
    const QList<MessageType> types{MessageType::Hello, MessageType::File, MessageType::Data,
                                   MessageType::End,   MessageType::Chat, MessageType::Bye};
    for (int cut = 0; cut <= stream.size(); ++cut) {
        for (int second = cut; second <= stream.size(); second += 7) {
            MessageReader reader;
            QList<MessageType> seen;
            PrivateMessage message;
            for (const QByteArray& piece :
                 {stream.left(cut), stream.mid(cut, second - cut), stream.mid(second)}) {
                reader.feed(piece);
                MessageReader::Result result;
                while ((result = reader.next(message)) == MessageReader::Result::Message)
                    seen.append(message.type);
                QCOMPARE(result, MessageReader::Result::NeedMore);
                if (message.type == MessageType::Data)
                    QCOMPARE(message.body, QByteArray("hello"));
            }
            QCOMPARE(seen, types);
            QCOMPARE(reader.buffered(), 0);
        }
    }

    // One byte at a time.
    MessageReader reader;
    QList<MessageType> seen;
    PrivateMessage message;
    for (const char c : stream) {
        reader.feed(QByteArray(1, c));
        while (reader.next(message) == MessageReader::Result::Message)
            seen.append(message.type);
    }
    QCOMPARE(seen, types);

    // Read from the socket, after what was fed: never past the message taken, so what
    // follows stays in the socket until asked for.
    for (int cut = 0; cut <= stream.size(); ++cut) {
        QByteArray rest = stream.mid(cut);
        QBuffer socket(&rest);
        QVERIFY(socket.open(QIODevice::ReadOnly));
        MessageReader fromSocket;
        fromSocket.feed(stream.left(cut));
        QList<MessageType> read;
        while (fromSocket.next(message, &socket) == MessageReader::Result::Message) {
            read.append(message.type);
            if (message.type == MessageType::Data)
                QCOMPARE(message.body, QByteArray("hello"));
            if (message.type == MessageType::Chat && cut < stream.size() - kMessageHeaderBytes)
                QCOMPARE(socket.bytesAvailable(), kMessageHeaderBytes); // the BYE
        }
        QVERIFY2(read == types, qPrintable(QString::number(cut)));
        QCOMPARE(fromSocket.buffered(), 0);
    }
}

void TestPrivateMessage::aHugeLengthIsMalformedBeforeItsBody()
{
    MessageReader reader;
    PrivateMessage message;
    reader.feed(helloMessage() + QByteArray("\x20\xff\xff\xff", 4));
    QCOMPARE(reader.next(message), MessageReader::Result::Message);
    QCOMPARE(reader.next(message), MessageReader::Result::NeedMore);
    reader.feed(QByteArray(1, '\xff'));
    QCOMPARE(reader.next(message), MessageReader::Result::Malformed);
    QCOMPARE(reader.buffered(), 0);
    // For good: what follows is not taken.
    reader.feed(encodeMessage(MessageType::Bye));
    QCOMPARE(reader.next(message), MessageReader::Result::Malformed);
    QCOMPARE(reader.buffered(), 0);

    MessageReader justOver;
    justOver.feed(dataHeader(kMaxDataBytes + 1));
    QCOMPARE(justOver.next(message), MessageReader::Result::Malformed);
}

// XXH3-128 in its canonical form as the xxhash package's xxhsum -H2 prints it, SHA-256 as
// sha256sum does; either kind fed in pieces of any size, and after the other.
void TestPrivateMessage::theChecksMatchKnownVectors()
{
    using Kind = Checksum::Kind;
    QByteArray pattern(300000, Qt::Uninitialized);
    for (int i = 0; i < pattern.size(); ++i)
        pattern[i] = char(i % 251);
    const QByteArray million(1000000, 'a');
    const QList<std::tuple<Kind, QByteArray, QByteArray>> vectors{
        {Kind::Xxh3_128, "", "99aa06d3014798d86001c324468d497f"},
        {Kind::Xxh3_128, "abc", "06b05ab6733a618578af5f94892f3950"},
        {Kind::Xxh3_128, million, "a545df8e384a9579b1fd6fae5285c4eb"},
        {Kind::Xxh3_128, pattern, "b65af738c61b5fc15d12941f4cf541c5"},
        {Kind::Sha256, million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    Checksum check(Kind::Sha256);
    for (const auto& [kind, input, expected] : vectors) {
        QCOMPARE(Checksum::of(kind, input).toHex(), expected);
        check.reset(kind);
        for (qsizetype at = 0, piece = 1; at < input.size(); at += piece, piece = piece * 3 + 1)
            check.add(input.mid(at, piece));
        QCOMPARE(check.result().toHex(), expected);
        QCOMPARE(check.result().size(), Checksum::bytes(kind));
    }
    QCOMPARE(fileCheckOf(kOurFeatures), Kind::Xxh3_128);
    QCOMPARE(fileCheckOf(kFeatureResume | kFeatureFolders), Kind::Sha256);
}

QTEST_MAIN(TestPrivateMessage)
#include "tst_privatemessage.moc"
