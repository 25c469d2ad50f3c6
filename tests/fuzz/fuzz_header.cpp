// Feeds arbitrary bytes, split at arbitrary places, to the header parser, and every
// name it yields to the name check: whatever a peer sends, a saved name must stay a
// plain name inside the save folder.
#include "plain/protocol.h"
#include "transfer/receivedname.h"

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

void checkName(const QByteArray& announced)
{
    const std::optional<QString> name = receivedFileName(announced);
    if (!name)
        return;
    check(!name->isEmpty() && *name != QLatin1String(".") && *name != QLatin1String(".."));
    // Never hidden, and never blank at either end, however its start was dressed up.
    check(!name->startsWith(QLatin1Char('.')));
    check(!name->front().isSpace() && !name->back().isSpace());
    check(!name->contains(QLatin1Char('/')) && !name->contains(QLatin1Char('\\')));
    for (const QChar c : *name)
        check(c.unicode() >= 0x20 && c.unicode() != 0x7f);
    const QString saved = QDir::cleanPath(QStringLiteral("/save/") + *name);
    check(saved.startsWith(QLatin1String("/save/")) && saved.size() > 6);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte says where the input is cut into two arrivals.
    const QByteArray input(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    const qsizetype cut = input.isEmpty() ? 0 : data[0] % (input.size() + 1);

    HeaderParser parser;
    QByteArray fed = input.left(cut);
    HeaderParser::Result result = parser.feed(fed);
    if (result == HeaderParser::Result::NeedMore) {
        fed = input;
        result = parser.feed(input.mid(cut));
    }
    if (result == HeaderParser::Result::Header) {
        check(parser.header().size >= 0);
        check(!parser.header().name.contains('\n'));
        check(fed.endsWith(parser.takeRest()));
        checkName(parser.header().name);
    }
    checkName(input);
    return 0;
}
