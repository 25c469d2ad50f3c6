#include "cli/console.h"

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

} // namespace

Console::Console() : progress_(::isatty(STDERR_FILENO) == 1) {}

void Console::printText(const QString& text)
{
    progress_.clear();
    write(stdout, text);
}

void Console::printLine(const QString& line)
{
    printText(line + QLatin1Char('\n'));
}

void Console::printProblem(const QString& text)
{
    progress_.clear();
    write(stderr, QStringLiteral("quillo: ") + text + QLatin1Char('\n'));
}
