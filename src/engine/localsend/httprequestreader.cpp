#include "localsend/httprequestreader.h"

#include <http_parser.h>

namespace
{

HttpRequestReader* readerOf(http_parser* parser)
{
    return static_cast<HttpRequestReader*>(parser->data);
}

} // namespace

HttpRequestReader::HttpRequestReader() : parser_(std::make_unique<http_parser>())
{
    http_parser_init(parser_.get(), HTTP_REQUEST);
    parser_->data = this;
}

HttpRequestReader::~HttpRequestReader() = default;

void HttpRequestReader::feed(const QByteArray& bytes)
{
    if (read_ == pending_.size()) {
        pending_ = bytes;
        read_ = 0;
        return;
    }
    pending_ = pending_.mid(read_) + bytes;
    read_ = 0;
}

HttpRequestReader::Event HttpRequestReader::next()
{
    for (;;) {
        if (status_)
            return Event::Malformed;
        if (std::exchange(headReady_, false))
            return Event::Head;
        if (!body_.isEmpty())
            return Event::Body;
        if (std::exchange(completeReady_, false))
            return Event::Complete;
        if (read_ == pending_.size())
            return Event::NeedMore;
        run();
    }
}

// Runs the parser over what is pending until it pauses after a head or a request's end,
// or has read everything.
void HttpRequestReader::run()
{
    static http_parser_settings callbacks = [] {
        http_parser_settings made;
        http_parser_settings_init(&made);
        made.on_message_begin = &HttpRequestReader::onMessageBegin;
        made.on_url = &HttpRequestReader::onUrl;
        made.on_header_field = &HttpRequestReader::onHeaderField;
        made.on_header_value = &HttpRequestReader::onHeaderValue;
        made.on_headers_complete = &HttpRequestReader::onHeadersComplete;
        made.on_body = &HttpRequestReader::onBody;
        made.on_message_complete = &HttpRequestReader::onMessageComplete;
        return made;
    }();
    http_parser_pause(parser_.get(), 0);
    const size_t done = http_parser_execute(parser_.get(), &callbacks, pending_.constData() + read_,
                                            size_t(pending_.size() - read_));
    read_ += qsizetype(done);
    const auto error = http_errno(parser_->http_errno);
    if (error != HPE_OK && error != HPE_PAUSED && !status_)
        status_ = error == HPE_HEADER_OVERFLOW ? 431 : 400;
    // A parser that stops without pausing or failing has read all.
    if (error == HPE_OK)
        read_ = pending_.size();
}

bool HttpRequestReader::malformed(int status)
{
    status_ = status;
    return true; // the callback's answer that stops the parser
}

int HttpRequestReader::onMessageBegin(http_parser* parser)
{
    HttpRequestReader* reader = readerOf(parser);
    reader->url_.clear();
    reader->inValue_ = false;
    reader->headerBytes_ = 0;
    reader->headers_ = 0;
    reader->head_ = {};
    return 0;
}

int HttpRequestReader::onUrl(http_parser* parser, const char* at, size_t length)
{
    HttpRequestReader* reader = readerOf(parser);
    if (size_t(reader->url_.size()) + length > size_t(kMaxUrlBytes))
        return reader->malformed(414);
    reader->url_.append(at, qsizetype(length));
    return 0;
}

bool HttpRequestReader::countHeaderBytes(size_t length)
{
    if (size_t(headerBytes_) + length > size_t(kMaxHeaderBytes))
        return malformed(431);
    headerBytes_ += int(length);
    return false;
}

int HttpRequestReader::onHeaderField(http_parser* parser, const char*, size_t length)
{
    HttpRequestReader* reader = readerOf(parser);
    if (reader->inValue_ || reader->headers_ == 0) {
        reader->inValue_ = false;
        if (++reader->headers_ > kMaxHeaders)
            return reader->malformed(431);
    }
    return reader->countHeaderBytes(length);
}

int HttpRequestReader::onHeaderValue(http_parser* parser, const char*, size_t length)
{
    HttpRequestReader* reader = readerOf(parser);
    reader->inValue_ = true;
    return reader->countHeaderBytes(length);
}

int HttpRequestReader::onHeadersComplete(http_parser* parser)
{
    HttpRequestReader* reader = readerOf(parser);
    // Nothing here changes protocols; any other answer but 0, 1 or 2 stops the parser.
    if (parser->upgrade) {
        reader->status_ = 400;
        return -1;
    }
    Head& head = reader->head_;
    head.method = http_method_str(http_method(parser->method));
    const qsizetype query = reader->url_.indexOf('?');
    head.path = query < 0 ? reader->url_ : reader->url_.left(query);
    head.query = query < 0 ? QByteArray() : reader->url_.mid(query + 1);
    head.chunked = (parser->flags & F_CHUNKED) != 0;
    if (!head.chunked && (parser->flags & F_CONTENTLENGTH) != 0)
        head.contentLength = qint64(parser->content_length);
    head.keepAlive = http_should_keep_alive(parser) != 0;
    reader->headReady_ = true;
    http_parser_pause(parser, 1);
    return 0;
}

int HttpRequestReader::onBody(http_parser* parser, const char* at, size_t length)
{
    readerOf(parser)->body_.append(at, qsizetype(length));
    return 0;
}

int HttpRequestReader::onMessageComplete(http_parser* parser)
{
    readerOf(parser)->completeReady_ = true;
    http_parser_pause(parser, 1);
    return 0;
}
