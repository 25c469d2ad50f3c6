#include "window/chattranscript.h"

#include "presence/notices.h"

#include <QColor>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>

namespace
{

const QColor kSpeakerColour(0, 0, 255);
const QColor kTextColour(0, 0, 0);

QTextCharFormat coloured(const QColor& colour)
{
    QTextCharFormat format;
    format.setForeground(colour);
    return format;
}

} // namespace

ChatTranscript::ChatTranscript(QTextDocument& document) : document_(document), end_(&document)
{
    // Every line ends in a line break, so the document holds one empty block after the
    // last line. Capping the blocks also turns off undo, which would grow without bound.
    document_.setMaximumBlockCount(kMaxLines + 1);
}

void ChatTranscript::writeOwnLine(const QString& text)
{
    write(ownLineSpeaker(), text);
}

void ChatTranscript::writeReceivedLine(const QString& name, const QString& text)
{
    write(receivedLineSpeaker(name), text);
}

void ChatTranscript::write(const QString& speaker, const QString& text)
{
    end_.movePosition(QTextCursor::End);
    setLastBlockShown(true); // it is about to hold this line
    for (const ShownLine& line : shownChatLines(speaker, text)) {
        end_.insertText(line.speaker, coloured(kSpeakerColour));
        end_.insertText(line.text + QStringLiteral("\r\n"), coloured(kTextColour));
    }
    setLastBlockShown(false);
    dropOldLinesOverBudget();
}

// The line break that ends every line leaves an empty block after the newest line. A
// view that follows the end would keep that empty block in view as its bottom line, and
// count it when working out how far it can scroll, so hidden it stays out of the way and
// the newest line is the last one shown.
void ChatTranscript::setLastBlockShown(bool shown)
{
    QTextBlock last = document_.lastBlock();
    if (last.isVisible() == shown)
        return;
    last.setVisible(shown);
    document_.markContentsDirty(last.position(), last.length());
}

void ChatTranscript::dropOldLinesOverBudget()
{
    // The line just written stays whatever its length.
    while (document_.characterCount() > kMaxCharacters && document_.blockCount() > 2) {
        QTextCursor first(document_.firstBlock());
        first.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
        first.removeSelectedText();
    }
}
