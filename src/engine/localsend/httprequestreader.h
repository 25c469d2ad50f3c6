#pragma once

#include <QByteArray>

#include <memory>
#include <optional>

struct http_parser;

// Reads HTTP/1.1 requests as they arrive on one connection, one at a time, without ever
// holding a request's body: the caller takes each piece of it as it comes. The request
// line and the header block are capped (kMaxUrlBytes, kMaxHeaderBytes, kMaxHeaders);
// beyond them the request is answered with status() and the connection is not read
// further. The parsing itself is the system's HTTP parser's.
class HttpRequestReader
{
public:
    static constexpr int kMaxUrlBytes = 4 * 1024;
    static constexpr int kMaxHeaderBytes = 16 * 1024; // names and values together
    static constexpr int kMaxHeaders = 64;

    // What next() found.
    enum class Event {
        NeedMore, // every byte fed so far is read
        Head,     // a request's line and headers are in: head()
        Body,     // some of its body: takeBody()
        Complete, // its body is over; the next request may follow
        Malformed // not HTTP, or over a cap: status() says which answer fits
    };

    struct Head {
        QByteArray method;
        QByteArray path;  // without the query
        QByteArray query; // after '?', still encoded
        std::optional<qint64> contentLength;
        bool chunked = false;
        bool keepAlive = true;
    };

    HttpRequestReader();
    ~HttpRequestReader();
    HttpRequestReader(const HttpRequestReader&) = delete;
    HttpRequestReader& operator=(const HttpRequestReader&) = delete;

    // The next bytes of the connection; next() reads them. No more than the caller just
    // read from its socket: they are kept until read.
    void feed(const QByteArray& bytes);
    Event next();

    const Head& head() const { return head_; }
    QByteArray takeBody() { return std::exchange(body_, {}); }
    // After Malformed: 400, 414 or 431.
    int status() const { return status_; }
    // Bytes fed and not read yet.
    qsizetype pending() const { return pending_.size() - read_; }

private:
    static int onMessageBegin(http_parser* parser);
    static int onUrl(http_parser* parser, const char* at, size_t length);
    static int onHeaderField(http_parser* parser, const char* at, size_t length);
    static int onHeaderValue(http_parser* parser, const char* at, size_t length);
    static int onHeadersComplete(http_parser* parser);
    static int onBody(http_parser* parser, const char* at, size_t length);
    static int onMessageComplete(http_parser* parser);
    bool countHeaderBytes(size_t length);
    bool malformed(int status);
    void run();

    std::unique_ptr<http_parser> parser_;
    QByteArray pending_;
    qsizetype read_ = 0;
    QByteArray url_;
    bool inValue_ = false; // the last header piece was a value
    int headerBytes_ = 0;
    int headers_ = 0;
    Head head_;
    QByteArray body_;
    bool headReady_ = false;
    bool completeReady_ = false;
    int status_ = 0; // non-zero once malformed
};
