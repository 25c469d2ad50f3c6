#include "plain/replylines.h"

#include "plain/protocol.h"

QList<QByteArray> ReplyLineSplitter::feed(const QByteArray& bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype lineFeed = bytes.indexOf('\n'); lineFeed >= 0;
         lineFeed = bytes.indexOf('\n', start)) {
        unfinished_ += bytes.mid(start, lineFeed - start);
        if (!std::exchange(overlong_, false))
            lines.append(unfinished_);
        unfinished_.clear();
        start = lineFeed + 1;
    }
    unfinished_ += bytes.mid(start);
    if (unfinished_.size() > kMaxLineBytes) {
        overlong_ = true;
        unfinished_.clear();
    }
    return lines;
}

std::optional<qint64> parseCount(const QByteArray& line)
{
    return parseDecimal(line.trimmed());
}
