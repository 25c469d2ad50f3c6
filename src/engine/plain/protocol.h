#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>

// The file connection. One TCP connection to port 1052 carries one file:
//
//   sender   -> receiver   "FILENAME " name " #" size CR LF   the header, once, first
//   receiver -> sender     "OK" LF                            the acceptance, once
//   sender   -> receiver   exactly size bytes of the file     no framing of any kind
//   receiver -> sender     total LF                           after each arrival of data
//
// name is the file's bare name as bytes of the sender's 8-bit text; it may hold spaces
// and "#", since the size is what follows the last " #". size and total are plain decimal
// numbers. The receiver's total counts all file bytes received so far on the connection;
// the sender closes the connection once a total equals the size. Nothing else is ever
// sent: no refusal, no checksum, no version.

constexpr quint16 kFilePort = 1052;

// A header longer than this is not a header.
constexpr int kMaxHeaderBytes = 4096;

struct TransferHeader {
    QByteArray name; // as it stood on the wire, trimmed of spaces
    qint64 size = 0;
};

// Plain decimal digits that fit a signed 64-bit number; nothing else.
std::optional<qint64> parseDecimal(const QByteArray& digits);

QByteArray transferHeader(const QByteArray& bareName, qint64 size);
QByteArray acceptanceLine();
QByteArray countLine(qint64 total);

// Whole percent of total in size, rounded down and kept within 0 to 100. The division
// comes first, in double precision, so 29 of 100 is 28.
int percentage(qint64 total, qint64 size);

// Collects the header from the first bytes of a connection, however they are split.
class HeaderParser
{
public:
    enum class Result { NeedMore, Header, Malformed };

    // Feeds the next bytes of the connection. Once the result is Header or Malformed,
    // the parser takes no more bytes.
    Result feed(const QByteArray& bytes);

    // After Header: the header, and the bytes that followed it, which are file data.
    const TransferHeader& header() const { return header_; }
    QByteArray takeRest() { return std::exchange(rest_, {}); }
    // After Malformed: what was wrong, for the user.
    const QString& problem() const { return problem_; }

private:
    Result malformed(const QString& problem);
    Result parseLine(const QByteArray& line);

    QByteArray buffer_;
    QByteArray rest_;
    TransferHeader header_;
    QString problem_;
    std::optional<Result> done_;
};
