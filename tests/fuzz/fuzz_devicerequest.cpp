// Feeds arbitrary bytes, cut into arrivals at arbitrary places, to the HTTP request reader
// of LocalSend's port, and every body it yields to the readers of the JSON documents
// devices send: nothing may crash, no cap may be passed, and a name the receiver would
// take must stay inside the save folder.
#include "localsend/httprequestreader.h"
#include "localsend/messages.h"
#include "localsend/uploadsessions.h"

#include <QDir>

#include <cstdint>
#include <cstdlib>

namespace
{

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void readDocument(const QByteArray& body)
{
    readDeviceInfo(body);
    readAcceptance(body);
    const std::optional<UploadOffer> offer = readUploadOffer(body);
    if (!offer)
        return;
    check(offer->files.size() <= kMaxFilesPerSession);
    for (const OfferedFile& file : takeableFiles(offer->files)) {
        check(file.size >= 0);
        const QString saved = QDir::cleanPath(QStringLiteral("/save/") + file.fileName);
        check(saved.startsWith(QLatin1String("/save/")) && !saved.contains(QLatin1String("/.")));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte says how long each arrival is.
    const QByteArray input(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    const qsizetype step = 1 + data[0];
    HttpRequestReader reader;
    QByteArray body;
    for (qsizetype at = 0; at < input.size(); at += step) {
        reader.feed(input.mid(at, step));
        check(reader.pending() <= step);
        for (bool more = true; more;) {
            switch (reader.next()) {
            case HttpRequestReader::Event::NeedMore:
                more = false;
                break;
            case HttpRequestReader::Event::Head:
                check(reader.head().path.size() <= HttpRequestReader::kMaxUrlBytes);
                body.clear();
                break;
            case HttpRequestReader::Event::Body:
                body += reader.takeBody();
                check(body.size() <= input.size());
                break;
            case HttpRequestReader::Event::Complete:
                readDocument(body.left(kMaxDocumentBytes + 1));
                break;
            case HttpRequestReader::Event::Malformed:
                check(reader.status() == 400 || reader.status() == 414 || reader.status() == 431);
                return 0;
            }
        }
    }
    readDocument(input);
    return 0;
}
