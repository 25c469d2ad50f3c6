#pragma once

#include <QString>
#include <QTextCursor>

class QTextDocument;

// Writes the mini chat into a text document, oldest line first: each line is the
// speaker in blue followed by the text in black. Text is inserted as typed, never read
// as markup. Lines always go in at the end, wherever the reader has clicked.
//
// Anyone on the network can add lines, so the document keeps only the newest kMaxLines
// lines and, as one datagram may carry tens of thousands of characters, no more than
// about kMaxCharacters characters; older lines leave from the top.
class ChatTranscript
{
public:
    static constexpr int kMaxLines = 10000;
    static constexpr int kMaxCharacters = 4'000'000;

    explicit ChatTranscript(QTextDocument& document);

    void writeOwnLine(const QString& text);
    void writeReceivedLine(const QString& name, const QString& text);

    // The lines written between the two calls are laid out and shown together, once.
    void beginBatch() { end_.beginEditBlock(); }
    void endBatch() { end_.endEditBlock(); }

private:
    void write(const QString& speaker, const QString& text);
    void setLastBlockShown(bool shown);
    void dropOldLinesOverBudget();

    QTextDocument& document_;
    QTextCursor end_;
};
