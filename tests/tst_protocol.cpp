#include "plain/protocol.h"
#include "text/speedtext.h"
#include "text/timelefttext.h"
#include "transfer/receivedname.h"
#include "transfer/saveerror.h"

#include <QSet>
#include <QtTest>

#include <cerrno>

class TestProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void wireTexts();
    void headerSplitAnywhere();
    void headerFedByteByByte();
    void headerFields_data();
    void headerFields();
    void malformedHeaders_data();
    void malformedHeaders();
    void parserTakesNothingAfterItsAnswer();
    void receivedNames_data();
    void receivedNames();
    void freeNames();
    void saveErrorTexts();
    void percentages();
    void speedTexts();
    void timeLeftTexts();
};

void TestProtocol::wireTexts()
{
    const QByteArray expected = QByteArray::fromHex("46494C454E414D4520706C616E2E747874202332353030"
                                                    "0D0A");
    QCOMPARE(transferHeader("plan.txt", 2500), expected);
    QCOMPARE(transferHeader("a b #2.txt", 12), QByteArray("FILENAME a b #2.txt #12\r\n"));
    QCOMPARE(transferHeader("big.iso", 5'000'000'000),
             QByteArray("FILENAME big.iso #5000000000\r\n"));
    QCOMPARE(acceptanceLine(), QByteArray::fromHex("4F4B0A"));
    QCOMPARE(countLine(2500), QByteArray("2500\n"));
    QCOMPARE(countLine(0), QByteArray("0\n"));
}

void TestProtocol::headerSplitAnywhere()
{
    const QByteArray stream = "FILENAME my plan.txt #2500\r\nFILENAME is data";
    const qsizetype headerEnd = stream.indexOf('\n') + 1;
    for (qsizetype split = 0; split <= stream.size(); ++split) {
        HeaderParser parser;
        const auto first = parser.feed(stream.left(split));
        QCOMPARE(first, split >= headerEnd ? HeaderParser::Result::Header
                                           : HeaderParser::Result::NeedMore);
        QByteArray rest = parser.takeRest();
        if (split < headerEnd) {
            QCOMPARE(parser.feed(stream.mid(split)), HeaderParser::Result::Header);
            rest = parser.takeRest();
        } else {
            rest += stream.mid(split);
        }
        QCOMPARE(parser.header().name, QByteArray("my plan.txt"));
        QCOMPARE(parser.header().size, 2500);
        QCOMPARE(rest, QByteArray("FILENAME is data"));
    }
}

void TestProtocol::headerFedByteByByte()
{
    HeaderParser parser;
    const QByteArray header = "FILENAME x.bin #7\r\n";
    for (qsizetype i = 0; i + 1 < header.size(); ++i)
        QCOMPARE(parser.feed(header.mid(i, 1)), HeaderParser::Result::NeedMore);
    QCOMPARE(parser.feed("\n"), HeaderParser::Result::Header);
    QCOMPARE(parser.header().size, 7);
    QCOMPARE(parser.takeRest(), QByteArray());
}

void TestProtocol::headerFields_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<qint64>("size");
    QTest::newRow("example") << QByteArray("FILENAME plan.txt #2500\r\n") << QByteArray("plan.txt")
                             << qint64(2500);
    QTest::newRow("inner spaces") << QByteArray("FILENAME my plan.txt #10\r\n")
                                  << QByteArray("my plan.txt") << qint64(10);
    QTest::newRow("outer spaces") << QByteArray("FILENAME   edge.txt   #10\r\n")
                                  << QByteArray("edge.txt") << qint64(10);
    QTest::newRow("hash in name") << QByteArray("FILENAME a b #2.txt #12\r\n")
                                  << QByteArray("a b #2.txt") << qint64(12);
    QTest::newRow("spaces round size")
        << QByteArray("FILENAME s #  42  \r\n") << QByteArray("s") << qint64(42);
    QTest::newRow("empty file") << QByteArray("FILENAME e #0\r\n") << QByteArray("e") << qint64(0);
    QTest::newRow("beyond 4 GiB") << QByteArray("FILENAME d.iso #4294967297\r\n")
                                  << QByteArray("d.iso") << qint64(4294967297);
    QTest::newRow("largest size") << QByteArray("FILENAME m #9223372036854775807\r\n")
                                  << QByteArray("m") << std::numeric_limits<qint64>::max();
    QTest::newRow("bare line feed")
        << QByteArray("FILENAME lf #3\n") << QByteArray("lf") << qint64(3);
    QTest::newRow("no name") << QByteArray("FILENAME #3\r\n") << QByteArray() << qint64(3);
}

void TestProtocol::headerFields()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, name);
    QFETCH(qint64, size);
    HeaderParser parser;
    QCOMPARE(parser.feed(line), HeaderParser::Result::Header);
    QCOMPARE(parser.header().name, name);
    QCOMPARE(parser.header().size, size);
}

void TestProtocol::malformedHeaders_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("keyword in lower case") << QByteArray("filename x #1\r\n");
    QTest::newRow("keyword without space") << QByteArray("FILENAMEx #1\r\n");
    QTest::newRow("keyword not first") << QByteArray("hello FILENAME x #1\r\n");
    QTest::newRow("data first") << QByteArray("\r\nFILENAME x #1\r\n");
    QTest::newRow("no size mark") << QByteArray("FILENAME x 1\r\n");
    QTest::newRow("hash without space") << QByteArray("FILENAME x#1\r\n");
    QTest::newRow("empty size") << QByteArray("FILENAME x #\r\n");
    QTest::newRow("negative size") << QByteArray("FILENAME x #-1\r\n");
    QTest::newRow("signed size") << QByteArray("FILENAME x #+1\r\n");
    QTest::newRow("size with letters") << QByteArray("FILENAME x #12ab\r\n");
    QTest::newRow("size with inner space") << QByteArray("FILENAME x #1 2\r\n");
    QTest::newRow("size beyond 63 bits") << QByteArray("FILENAME x #9223372036854775808\r\n");
    QTest::newRow("long size") << QByteArray("FILENAME x #99999999999999999999999\r\n");
    QTest::newRow("4 KiB and no line end") << QByteArray(kMaxHeaderBytes + 1, 'F');
    QTest::newRow("line end beyond 4 KiB")
        << (QByteArray("FILENAME ") + QByteArray(kMaxHeaderBytes, 'n') + " #1\r\n");
}

void TestProtocol::malformedHeaders()
{
    QFETCH(QByteArray, bytes);
    HeaderParser parser;
    QCOMPARE(parser.feed(bytes), HeaderParser::Result::Malformed);
    QVERIFY(!parser.problem().isEmpty());
}

void TestProtocol::parserTakesNothingAfterItsAnswer()
{
    HeaderParser good;
    QCOMPARE(good.feed("FILENAME a #1\r\n"), HeaderParser::Result::Header);
    QCOMPARE(good.feed("FILENAME b #2\r\n"), HeaderParser::Result::Header);
    QCOMPARE(good.header().name, QByteArray("a"));
    QCOMPARE(good.takeRest(), QByteArray());

    HeaderParser bad;
    QCOMPARE(bad.feed("nonsense\n"), HeaderParser::Result::Malformed);
    QCOMPARE(bad.feed("FILENAME b #2\r\n"), HeaderParser::Result::Malformed);

    // Short of 4 KiB in pieces, then past it.
    HeaderParser slow;
    for (int i = 0; i < 4; ++i)
        QCOMPARE(slow.feed(QByteArray(1000, 'x')), HeaderParser::Result::NeedMore);
    QCOMPARE(slow.feed(QByteArray(200, 'x')), HeaderParser::Result::Malformed);
}

void TestProtocol::receivedNames_data()
{
    QTest::addColumn<QByteArray>("announced");
    QTest::addColumn<QString>("saved"); // empty: refused
    QTest::newRow("plain") << QByteArray("plan.txt") << "plan.txt";
    QTest::newRow("spaces and hash") << QByteArray("a b #2.txt") << "a b #2.txt";
    QTest::newRow("hidden") << QByteArray(".bash_login") << "bash_login";
    QTest::newRow("dots before") << QByteArray("...gitconfig") << "gitconfig";
    QTest::newRow("dot inside") << QByteArray("a.tar.gz") << "a.tar.gz";
    QTest::newRow("right-to-left override")
        << QByteArray("evil\xe2\x80\xaetxt.exe") << "eviltxt.exe";
    QTest::newRow("isolates and zero width") << QByteArray("\xe2\x81\xa6"
                                                           "a\xe2\x80\x8b"
                                                           "b\xe2\x81\xa9.txt")
                                             << "ab.txt";
    QTest::newRow("line separator") << QByteArray("a\xe2\x80\xa8"
                                                  "b")
                                    << "ab";
    QTest::newRow("C1 control") << QByteArray("a\xc2\x9b"
                                              "31mb")
                                << "a31mb";
    QTest::newRow("nothing left") << QByteArray(".\xe2\x80\xae.") << QString();
    // Blanks and dots at the start go together, whichever comes first.
    QTest::newRow("dot, space, dot") << QByteArray(". .bash_login") << "bash_login";
    QTest::newRow("no-break space, dot") << QByteArray("\xc2\xa0.bashrc") << "bashrc";
    QTest::newRow("ideographic space, dot") << QByteArray("\xe3\x80\x80.bashrc") << "bashrc";
    QTest::newRow("em space, dot") << QByteArray("\xe2\x80\x83.bashrc") << "bashrc";
    QTest::newRow("hangul filler, dot") << QByteArray("\xe3\x85\xa4.profile") << "profile";
    QTest::newRow("joiner, dot") << QByteArray("\xcd\x8f.profile") << "profile";
    QTest::newRow("dots and spaces") << QByteArray(". . .") << QString();
    QTest::newRow("blank ends") << QByteArray("\xe3\x85\xa4report.pdf\xe2\xa0\x80 ")
                                << "report.pdf";
    QTest::newRow("selector inside kept")
        << QByteArray("\xe2\x9d\xa4\xef\xb8\x8f.txt") << QString::fromUtf8("❤️.txt");
    // Names that show nothing.
    QTest::newRow("spaces") << QByteArray("   ") << QString();
    QTest::newRow("hangul filler") << QByteArray("\xe3\x85\xa4\xe3\x85\xa4") << QString();
    QTest::newRow("halfwidth filler") << QByteArray("\xef\xbe\xa0") << QString();
    QTest::newRow("choseong and jungseong fillers")
        << QByteArray("\xe1\x85\x9f\xe1\x85\xa0") << QString();
    QTest::newRow("grapheme joiner") << QByteArray("\xcd\x8f") << QString();
    QTest::newRow("braille blank") << QByteArray("\xe2\xa0\x80") << QString();
    QTest::newRow("variation selector") << QByteArray("\xef\xb8\x8f") << QString();
    QTest::newRow("mongolian vowel separator") << QByteArray("\xe1\xa0\x8e") << QString();
    QTest::newRow("tag letter") << QByteArray("\xf3\xa0\x81\x81") << QString();
    QTest::newRow("blanks of every kind")
        << QByteArray("\xe3\x85\xa4 \xe2\xa0\x80\xc2\xa0\xef\xbe\xa0\xe2\x80\x8b") << QString();
    QTest::newRow("utf-8") << QByteArray("Zo\xc3\xab.txt") << QString::fromUtf8("Zoë.txt");
    QTest::newRow("8-bit") << QByteArray("caf\xe9.txt") << QString::fromUtf8("café.txt");
    QTest::newRow("8-bit euro") << QByteArray("\x80") << QString::fromUtf8("€");
    QTest::newRow("8-bit quotes") << QByteArray("\x93q\x94\x9f") << QString::fromUtf8("“q”Ÿ");
    QTest::newRow("8-bit undefined byte") << QByteArray("a\x81"
                                                        "b")
                                          << "ab";
    QTest::newRow("cut utf-8") << QByteArray("Zo\xc3") << QString::fromUtf8("ZoÃ");
    QTest::newRow("utf-8 and a stray byte")
        << QByteArray("\xc3\xa9\xe9") << QString::fromUtf8("Ã©é");
    QTest::newRow("climbing slashes") << QByteArray("../../etc/passwd") << "passwd";
    QTest::newRow("climbing backslashes") << QByteArray("..\\..\\boot.ini") << "boot.ini";
    QTest::newRow("absolute") << QByteArray("/etc/cron.d/job") << "job";
    QTest::newRow("windows path") << QByteArray("C:\\Data\\plan.txt") << "plan.txt";
    QTest::newRow("mixed") << QByteArray("a/b\\c/d.txt") << "d.txt";
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("dot") << QByteArray(".") << QString();
    QTest::newRow("dot dot") << QByteArray("..") << QString();
    QTest::newRow("ends in dot dot") << QByteArray("x/..") << QString();
    QTest::newRow("ends in separator") << QByteArray("folder/") << QString();
    QTest::newRow("nul") << QByteArray("a\0b.txt", 7) << QString();
    QTest::newRow("tab") << QByteArray("a\tb") << QString();
    QTest::newRow("escape") << QByteArray("\x1b[31mred") << QString();
    QTest::newRow("delete") << QByteArray("a\x7f") << QString();
    QTest::newRow("too long") << QByteArray(250, 'n') << QString();
    QTest::newRow("long but fits") << QByteArray(243, 'n') << QString(243, QLatin1Char('n'));
}

void TestProtocol::receivedNames()
{
    QFETCH(QByteArray, announced);
    QFETCH(QString, saved);
    const std::optional<QString> name = receivedFileName(announced);
    QCOMPARE(name.value_or(QString()), saved);
    if (name)
        QVERIFY(!name->contains(QLatin1Char('/')));
}

void TestProtocol::freeNames()
{
    QSet<QString> taken{"a.txt", "a (1).txt", ".profile", "noext", "x.tar.gz"};
    const auto isTaken = [&taken](const QString& n) { return taken.contains(n); };
    QCOMPARE(firstFreeName("b.txt", isTaken), QStringLiteral("b.txt"));
    QCOMPARE(firstFreeName("a.txt", isTaken), QStringLiteral("a (2).txt"));
    QCOMPARE(firstFreeName(".profile", isTaken), QStringLiteral(".profile (1)"));
    QCOMPARE(firstFreeName("noext", isTaken), QStringLiteral("noext (1)"));
    QCOMPARE(firstFreeName("x.tar.gz", isTaken), QStringLiteral("x.tar (1).gz"));
    QCOMPARE(firstFreeName("full", [](const QString&) { return true; }), QString());
}

void TestProtocol::saveErrorTexts()
{
    QCOMPARE(saveErrorText(ENOSPC), QStringLiteral("the disk is full"));
    QCOMPARE(saveErrorText(EDQUOT), QStringLiteral("your disk quota is used up"));
}

void TestProtocol::percentages()
{
    QCOMPARE(percentage(29, 100), 28); // 29 / 100 * 100 is just below 29
    QCOMPARE(percentage(1024, 2500), 40);
    QCOMPARE(percentage(511, 1024), 49);
    QCOMPARE(percentage(2499, 2500), 99);
    QCOMPARE(percentage(2500, 2500), 100);
    QCOMPARE(percentage(0, 2500), 0);
    QCOMPARE(percentage(3000, 2500), 100);
    QCOMPARE(percentage(-5, 2500), 0);
    QCOMPARE(percentage(0, 0), 0);
    QCOMPARE(percentage(4'500'000'000, 9'000'000'000), 50);
}

void TestProtocol::speedTexts()
{
    const QLocale english(QLocale::English);
    QCOMPARE(speedText(0, 1, english), QStringLiteral("000.00 K per Second"));
    QCOMPARE(speedText(12345, 4, english), QStringLiteral("003.01 K per Second"));
    QCOMPARE(speedText(2097152, 1, english), QStringLiteral("2048.00 K per Second"));
    QCOMPARE(speedText(10240, 1, english), QStringLiteral("010.00 K per Second"));
    QCOMPARE(speedText(10240, 2, english), QStringLiteral("005.00 K per Second"));
    QCOMPARE(speedText(2'147'483'648'000, 1, english),
             QStringLiteral("2097152000.00 K per Second"));
    QCOMPARE(speedText(12345, 4, QLocale(QLocale::German)), QStringLiteral("003,01 K per Second"));
}

void TestProtocol::timeLeftTexts()
{
    // At 1000 bytes a second, the bytes remaining are the milliseconds left.
    const QList<std::pair<qint64, const char*>> table{
        {0, ""},
        {5000, "A few seconds left"},
        {5100, "About 10 seconds left"},
        {21000, "About 25 seconds left"},
        {56000, "About 1 minute left"},
        {89000, "About 1 minute left"},
        {90000, "About 2 minutes left"},
        {3569000, "About 59 minutes left"},
        {3570000, "About 1 hour left"},
        {4800000, "About 1 hour 20 minutes left"},
        {9000000, "About 2 hours 30 minutes left"},
    };
    for (const auto& [remaining, text] : table)
        QCOMPARE(timeLeftText(remaining, 1000, 1), QString::fromUtf8(text));
    QCOMPARE(timeLeftText(5000, 0, 1), QString()); // no speed yet
    QCOMPARE(timeLeftText(10000, 5000, 10), QStringLiteral("About 20 seconds left"));
    QCOMPARE(timeLeftText(qint64(1) << 40, 1024, 1),
             QStringLiteral("About 298261 hours 40 minutes left"));
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
