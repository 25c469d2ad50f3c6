#include "cli/console.h"

#include "text/peertext.h"

#include <cstdio>
#include <unistd.h>

namespace
{

void write(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// The tabs are the line's own, between its fields; anything in a field that could make
// another field or line, or steer the terminal, has come from elsewhere and goes.
QString withPlainFields(const QString& line)
{
    QStringList fields = line.split(QLatin1Char('\t'));
    for (QString& field : fields)
        field = shownOnOneLine(field);
    return fields.join(QLatin1Char('\t'));
}

} // namespace

Console::Console() : progress_(::isatty(STDERR_FILENO) == 1) {}

void Console::printText(const QString& text)
{
    progress_.clear();
    write(stdout, text);
}

void Console::printLine(const QString& line)
{
    printText(withPlainFields(line) + QLatin1Char('\n'));
}

void Console::printProblem(const QString& text)
{
    progress_.clear();
    write(stderr, QStringLiteral("quillo: ") + shownOnOneLine(text) + QLatin1Char('\n'));
}
