#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

// Cuts what a receiver answers into lines. A line ends with LF; a line still unfinished
// at the end of an arrival is kept for the next one. A receiver only ever sends short
// lines, so a line that grows past kMaxLineBytes is thrown away, up to its LF.
class ReplyLineSplitter
{
public:
    static constexpr qsizetype kMaxLineBytes = 1024;

    // The lines the bytes complete, without their LF, in order.
    QList<QByteArray> feed(const QByteArray& bytes);

private:
    QByteArray unfinished_;
    bool overlong_ = false;
};

// The number a count line carries: decimal digits, with white space such as a CR around
// them. Anything else is not a count.
std::optional<qint64> parseCount(const QByteArray& line);
