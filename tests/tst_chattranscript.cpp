#include "support/transcriptpieces.h"
#include "window/chattranscript.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QtTest>

class TestChatTranscript : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void speakerInBlueThenTextInBlack();
    void anEmptyLineIsTheSpeakerAlone();
    void markupIsShownAsTyped();
    void aMessageCannotForgeOrReorderLines();
    void keepsTheNewestTenThousandLines();
    void keepsTheNewestLinesWithinTheCharacterBudget();
    void writesAtTheEndWhereverTheReaderClicked();
    void aBatchShowsEveryLineInOrder();

private:
    std::unique_ptr<QPlainTextEdit> edit_;
    std::unique_ptr<ChatTranscript> transcript_;
};

void TestChatTranscript::init()
{
    edit_ = std::make_unique<QPlainTextEdit>();
    edit_->setReadOnly(true);
    transcript_ = std::make_unique<ChatTranscript>(*edit_->document());
}

void TestChatTranscript::cleanup()
{
    transcript_.reset();
    edit_.reset();
}

void TestChatTranscript::speakerInBlueThenTextInBlack()
{
    transcript_->writeOwnLine(QStringLiteral("hi all"));
    transcript_->writeReceivedLine(QStringLiteral("Anna"), QStringLiteral("hello"));
    transcript_->writeReceivedLine(QStringLiteral("UNKNOWN"), QStringLiteral(" spaced "));

    QCOMPARE(edit_->toPlainText(),
             QStringLiteral("You Said: hi all\nAnna Says: hello\nUNKNOWN Says:  spaced \n"));
    const QList<Piece> expected{{"You Said: ", kBlue},     {"hi all", kBlack},
                                {"Anna Says: ", kBlue},    {"hello", kBlack},
                                {"UNKNOWN Says: ", kBlue}, {" spaced ", kBlack}};
    QCOMPARE(piecesOf(*edit_->document()), expected);
}

void TestChatTranscript::anEmptyLineIsTheSpeakerAlone()
{
    transcript_->writeOwnLine(QString());
    transcript_->writeReceivedLine(QStringLiteral("Ben"), QString());
    QCOMPARE(edit_->toPlainText(), QStringLiteral("You Said: \nBen Says: \n"));
    QCOMPARE(edit_->document()->blockCount(), 3);
}

void TestChatTranscript::markupIsShownAsTyped()
{
    const QString line = QStringLiteral("<b>hi</b> <img src=\"x.png\"> &amp; <a href=\"y\">z</a>");
    transcript_->writeReceivedLine(QStringLiteral("<i>Ben</i>"), line);
    QCOMPARE(edit_->toPlainText(), QStringLiteral("<i>Ben</i> Says: ") + line + "\n");
    for (QTextBlock block = edit_->document()->firstBlock(); block.isValid();
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            QVERIFY(!format.isImageFormat());
            QVERIFY(!format.isAnchor());
            QVERIFY(format.fontWeight() != QFont::Bold);
            QVERIFY(!format.fontItalic());
        }
    }
}

void TestChatTranscript::aMessageCannotForgeOrReorderLines()
{
    transcript_->writeReceivedLine(QStringLiteral("UNKNOWN"),
                                   QStringLiteral("hi\nYou Said: send me the file\r\nok"));
    transcript_->writeReceivedLine(QStringLiteral("Anna"),
                                   QStringLiteral("evil\u202etxt.exe \u2066x\u2069\u200b!\x1b"));
    QCOMPARE(edit_->toPlainText(), QStringLiteral("UNKNOWN Says: hi\n"
                                                  "    | You Said: send me the file\n"
                                                  "    | ok\n"
                                                  "Anna Says: eviltxt.exe x!\n"));
    const QList<Piece> pieces = piecesOf(*edit_->document());
    QCOMPARE(pieces.at(2), (Piece{QStringLiteral("    | "), kBlue}));
}

void TestChatTranscript::keepsTheNewestTenThousandLines()
{
    const int written = ChatTranscript::kMaxLines + 5;
    for (int i = 1; i <= written; ++i) {
        if (i % 2)
            transcript_->writeReceivedLine(QStringLiteral("Anna"), QString::number(i));
        else
            transcript_->writeOwnLine(QString::number(i));
    }
    const QStringList lines = edit_->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), ChatTranscript::kMaxLines + 1); // the last is the empty line to come
    QCOMPARE(lines.first(), QStringLiteral("You Said: 6"));
    QCOMPARE(lines[lines.size() - 2], QStringLiteral("Anna Says: 10005"));
    QCOMPARE(lines.last(), QString());

    // The colours hold at both ends after the oldest lines have left.
    const QList<Piece> pieces = piecesOf(*edit_->document());
    QCOMPARE(pieces.first(), (Piece{"You Said: ", kBlue}));
    QCOMPARE(pieces[1], (Piece{"6", kBlack}));
    QCOMPARE(pieces[pieces.size() - 2], (Piece{"Anna Says: ", kBlue}));
    QCOMPARE(pieces.last(), (Piece{"10005", kBlack}));
}

void TestChatTranscript::keepsTheNewestLinesWithinTheCharacterBudget()
{
    // Long lines with spaces, as a flood of full-size datagrams could bring.
    QString filler;
    while (filler.size() < 60000)
        filler += QStringLiteral("abcdefg ");
    const int written = ChatTranscript::kMaxCharacters / filler.size() + 10;
    for (int i = 1; i <= written; ++i)
        transcript_->writeReceivedLine(QString::number(i), filler);

    const QTextDocument& document = *edit_->document();
    QVERIFY2(document.characterCount() <= ChatTranscript::kMaxCharacters,
             qPrintable(QString::number(document.characterCount())));
    QVERIFY(document.characterCount() > ChatTranscript::kMaxCharacters - 2 * filler.size());
    const QStringList lines = edit_->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines[lines.size() - 2],
             QString::number(written) + QStringLiteral(" Says: ") + filler);
    QVERIFY(lines.first().startsWith(QString::number(written - lines.size() + 2) + " Says: "));
    QCOMPARE(piecesOf(document).first().colour, kBlue);
}

void TestChatTranscript::writesAtTheEndWhereverTheReaderClicked()
{
    transcript_->writeOwnLine(QStringLiteral("one"));
    transcript_->writeOwnLine(QStringLiteral("two"));
    // The reader has selected "You" in the first line.
    QTextCursor selection(edit_->document());
    selection.setPosition(0);
    selection.setPosition(3, QTextCursor::KeepAnchor);
    edit_->setTextCursor(selection);

    transcript_->writeReceivedLine(QStringLiteral("Anna"), QStringLiteral("three"));
    QCOMPARE(edit_->toPlainText(),
             QStringLiteral("You Said: one\nYou Said: two\nAnna Says: three\n"));
    QCOMPARE(edit_->textCursor().selectedText(), QStringLiteral("You"));
}

void TestChatTranscript::aBatchShowsEveryLineInOrder()
{
    transcript_->writeOwnLine(QStringLiteral("before"));
    transcript_->beginBatch();
    transcript_->writeReceivedLine(QStringLiteral("Anna"), QStringLiteral("a"));
    transcript_->writeReceivedLine(QStringLiteral("Ben"), QStringLiteral("b"));
    transcript_->endBatch();
    transcript_->writeOwnLine(QStringLiteral("after"));
    QCOMPARE(edit_->toPlainText(),
             QStringLiteral("You Said: before\nAnna Says: a\nBen Says: b\nYou Said: after\n"));
    const QList<Piece> pieces = piecesOf(*edit_->document());
    QCOMPARE(pieces[4], (Piece{"Ben Says: ", kBlue}));
    QCOMPARE(pieces[5], (Piece{"b", kBlack}));
}

QTEST_MAIN(TestChatTranscript)
#include "tst_chattranscript.moc"
