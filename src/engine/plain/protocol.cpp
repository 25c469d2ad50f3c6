#include "plain/protocol.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{

const QByteArray kKeyword = QByteArrayLiteral("FILENAME ");
const QByteArray kSizeMark = QByteArrayLiteral(" #");

QByteArray trimSpaces(QByteArray text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text[start] == ' ')
        ++start;
    while (end > start && text[end - 1] == ' ')
        --end;
    return text.mid(start, end - start);
}

} // namespace

std::optional<qint64> parseDecimal(const QByteArray& digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const char digit : digits) {
        if (digit < '0' || digit > '9')
            return std::nullopt;
        const int next = digit - '0';
        if (value > (std::numeric_limits<qint64>::max() - next) / 10)
            return std::nullopt;
        value = value * 10 + next;
    }
    return value;
}

QByteArray transferHeader(const QByteArray& bareName, qint64 size)
{
    return kKeyword + bareName + kSizeMark + QByteArray::number(size) + "\r\n";
}

QByteArray acceptanceLine()
{
    return QByteArrayLiteral("OK\n");
}

QByteArray countLine(qint64 total)
{
    return QByteArray::number(total) + '\n';
}

int percentage(qint64 total, qint64 size)
{
    if (size <= 0)
        return 0;
    const double percent = std::floor(double(total) / double(size) * 100.0);
    return int(std::clamp(percent, 0.0, 100.0));
}

HeaderParser::Result HeaderParser::feed(const QByteArray& bytes)
{
    if (done_)
        return *done_;
    const qsizetype searchFrom = buffer_.size();
    buffer_ += bytes;
    const qsizetype lineFeed = buffer_.indexOf('\n', searchFrom);
    if (lineFeed < 0) {
        if (buffer_.size() > kMaxHeaderBytes)
            return malformed(QStringLiteral("no header in the first 4 KiB"));
        return Result::NeedMore;
    }
    if (lineFeed >= kMaxHeaderBytes)
        return malformed(QStringLiteral("no header in the first 4 KiB"));
    QByteArray line = buffer_.left(lineFeed);
    if (line.endsWith('\r'))
        line.chop(1);
    rest_ = buffer_.mid(lineFeed + 1);
    buffer_.clear();
    return parseLine(line);
}

HeaderParser::Result HeaderParser::parseLine(const QByteArray& line)
{
    if (!line.startsWith(kKeyword))
        return malformed(QStringLiteral("the connection does not start with a file header"));
    const qsizetype mark = line.lastIndexOf(kSizeMark);
    if (mark < 0)
        return malformed(QStringLiteral("the header gives no size"));
    const std::optional<qint64> size = parseDecimal(trimSpaces(line.mid(mark + kSizeMark.size())));
    if (!size)
        return malformed(QStringLiteral("the size in the header is not a number"));
    // "FILENAME #5": the keyword's own space starts the size mark, and the name is empty.
    const qsizetype nameLength = std::max<qsizetype>(0, mark - kKeyword.size());
    header_.name = trimSpaces(line.mid(kKeyword.size(), nameLength));
    header_.size = *size;
    done_ = Result::Header;
    return Result::Header;
}

HeaderParser::Result HeaderParser::malformed(const QString& problem)
{
    problem_ = problem;
    buffer_.clear();
    rest_.clear();
    done_ = Result::Malformed;
    return Result::Malformed;
}
