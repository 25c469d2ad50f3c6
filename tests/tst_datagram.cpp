#include "addressbook/addressbook.h"
#include "addressbook/peername.h"
#include "platform/localaddress.h"
#include "presence/datagram.h"

#include <QtTest>

using Kind = Arrival::Kind;
Q_DECLARE_METATYPE(Arrival::Kind)

namespace
{

AddressBook bookOf(const QList<std::pair<QString, QString>>& entries)
{
    AddressBook book;
    for (const auto& [name, address] : entries)
        book.append(name, address);
    return book;
}

} // namespace

class TestDatagram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void presenceIsTheSixBytesOnline();
    void chatIsTheBareTextInUtf8();
    void sourceAddressIsDottedText_data();
    void sourceAddressIsDottedText();
    void senderIsTheLowestSlotWithExactlyThatAddress_data();
    void senderIsTheLowestSlotWithExactlyThatAddress();
    void classifiesPresenceAndChat_data();
    void classifiesPresenceAndChat();
    void anEmptyBookNamesNobody();
};

void TestDatagram::presenceIsTheSixBytesOnline()
{
    QCOMPARE(presenceDatagram(), QByteArray("\x4F\x4E\x4C\x49\x4E\x45", 6));
    QCOMPARE(kDatagramPort, quint16(1071));
}

void TestDatagram::chatIsTheBareTextInUtf8()
{
    QCOMPARE(chatDatagram(QStringLiteral("hello there")), QByteArray("hello there"));
    QCOMPARE(chatDatagram(QString()), QByteArray());
    QCOMPARE(chatDatagram(QStringLiteral(" x ")), QByteArray(" x "));
    QCOMPARE(chatDatagram(QString::fromUtf8("Grüße, €")), QByteArray("Gr\xC3\xBC\xC3\x9F"
                                                                     "e, \xE2\x82\xAC"));
}

void TestDatagram::sourceAddressIsDottedText_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("text");
    QTest::newRow("IPv4") << "10.0.0.7"
                          << "10.0.0.7";
    QTest::newRow("IPv4-mapped IPv6") << "::ffff:10.0.0.7"
                                      << "10.0.0.7";
    QTest::newRow("mapped loopback") << "::ffff:127.0.0.1"
                                     << "127.0.0.1";
    QTest::newRow("IPv6") << "fe80::1"
                          << "fe80::1";
    QTest::newRow("IPv6 loopback") << "::1"
                                   << "::1";
}

void TestDatagram::sourceAddressIsDottedText()
{
    QFETCH(QString, source);
    QFETCH(QString, text);
    QCOMPARE(dottedAddress(QHostAddress(source)), text);
}

void TestDatagram::senderIsTheLowestSlotWithExactlyThatAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("name"); // empty: not found

    QTest::newRow("first of two with the same address") << "10.0.0.2"
                                                        << "Ben";
    QTest::newRow("only entry with it") << "10.0.0.3"
                                        << "Cleo";
    QTest::newRow("typed with a blank") << "10.0.0.4"
                                        << "";
    QTest::newRow("typed with a leading zero") << "10.0.0.5"
                                               << "";
    QTest::newRow("typed as a host name") << "127.0.0.1"
                                          << "";
    QTest::newRow("not listed") << "10.0.0.9"
                                << "";
}

void TestDatagram::senderIsTheLowestSlotWithExactlyThatAddress()
{
    QFETCH(QString, address);
    QFETCH(QString, name);
    const AddressBook book = bookOf({{"Anna", "10.0.0.1"},
                                     {"Ben", "10.0.0.2"},
                                     {"Cleo", "10.0.0.3"},
                                     {"Bert", "10.0.0.2"},
                                     {"Dora", "10.0.0.4 "},
                                     {"Emil", "10.0.0.05"},
                                     {"Home", "localhost"}});
    const std::optional<QString> found = senderName(book, address);
    QCOMPARE(found.has_value(), !name.isEmpty());
    if (found)
        QCOMPARE(*found, name);
}

void TestDatagram::classifiesPresenceAndChat_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    QTest::newRow("presence from a listed peer")
        << "10.0.0.1" << QByteArray("ONLINE") << Kind::Presence << "Anna"
        << "";
    QTest::newRow("presence over IPv6 from a listed peer")
        << "::ffff:10.0.0.1" << QByteArray("ONLINE") << Kind::Presence << "Anna"
        << "";
    QTest::newRow("presence from a stranger")
        << "10.0.0.9" << QByteArray("ONLINE") << Kind::Ignored << ""
        << "";
    QTest::newRow("lower case is chat")
        << "10.0.0.1" << QByteArray("online") << Kind::Chat << "Anna"
        << "online";
    QTest::newRow("mixed case is chat")
        << "10.0.0.1" << QByteArray("Online") << Kind::Chat << "Anna"
        << "Online";
    QTest::newRow("blank before is chat")
        << "10.0.0.1" << QByteArray(" ONLINE") << Kind::Chat << "Anna"
        << " ONLINE";
    QTest::newRow("blank after is chat")
        << "10.0.0.1" << QByteArray("ONLINE ") << Kind::Chat << "Anna"
        << "ONLINE ";
    QTest::newRow("line end after is chat")
        << "10.0.0.1" << QByteArray("ONLINE\r\n") << Kind::Chat << "Anna"
        << "ONLINE\r\n";
    QTest::newRow("chat from a listed peer")
        << "10.0.0.2" << QByteArray("hi Anna") << Kind::Chat << "Ben"
        << "hi Anna";
    QTest::newRow("chat from a stranger")
        << "10.0.0.9" << QByteArray("hi") << Kind::Chat << "UNKNOWN"
        << "hi";
    QTest::newRow("empty chat line") << "10.0.0.2" << QByteArray() << Kind::Chat << "Ben"
                                     << "";
    QTest::newRow("UTF-8 text") << "10.0.0.2"
                                << QByteArray("Gr\xC3\xBC\xC3\x9F"
                                              "e")
                                << Kind::Chat << "Ben" << QString::fromUtf8("Grüße");
    QTest::newRow("8-bit text") << "10.0.0.2" << QByteArray("caf\xe9") << Kind::Chat << "Ben"
                                << QString::fromUtf8("café");
    QTest::newRow("markup stays text")
        << "10.0.0.2" << QByteArray("<b>hi</b>") << Kind::Chat << "Ben"
        << "<b>hi</b>";
}

void TestDatagram::classifiesPresenceAndChat()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, payload);
    QFETCH(Kind, kind);
    QFETCH(QString, name);
    QFETCH(QString, text);
    const AddressBook book = bookOf({{"Anna", "10.0.0.1"}, {"Ben", "10.0.0.2"}});
    const Arrival arrival = classifyDatagram(book, QHostAddress(source), payload);
    QCOMPARE(arrival.kind, kind);
    QCOMPARE(arrival.name, name);
    QCOMPARE(arrival.text, text);
}

void TestDatagram::anEmptyBookNamesNobody()
{
    const AddressBook empty;
    const QHostAddress source(QStringLiteral("10.0.0.1"));
    QCOMPARE(classifyDatagram(empty, source, "ONLINE").kind, Kind::Ignored);
    const Arrival chat = classifyDatagram(empty, source, "x");
    QCOMPARE(chat.kind, Kind::Chat);
    QCOMPARE(chat.name, QStringLiteral("UNKNOWN"));
}

QTEST_APPLESS_MAIN(TestDatagram)
#include "tst_datagram.moc"
