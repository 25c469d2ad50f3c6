#include "cli/terminalprogress.h"

#include "plain/protocol.h"
#include "text/peertext.h"

#include <cstdio>

namespace
{

constexpr int kBarCells = 30;
constexpr int kNameChars = 24;

void writeError(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace

QString progressBarText(const QString& name, qint64 done, qint64 size, const QString& speed)
{
    const int percent = percentage(done, size);
    const int filled = percent * kBarCells / 100;
    const QString shownName = name.size() > kNameChars
                                  ? name.left(kNameChars - 3) + QStringLiteral("...")
                                  : name.leftJustified(kNameChars);
    QString line = QStringLiteral("%1 [%2%3] %4%")
                       .arg(shownName, QString(filled, QLatin1Char('#')),
                            QString(kBarCells - filled, QLatin1Char(' ')))
                       .arg(percent, 3);
    if (!speed.isEmpty())
        line += QStringLiteral("  ") + speed;
    return line;
}

void TerminalProgress::begin(const QString& name)
{
    name_ = shownOnOneLine(name); // a received file's name is the sender's
    speed_.clear();
    done_ = 0;
    size_ = 0;
    sinceDrawn_.invalidate();
}

void TerminalProgress::update(qint64 done, qint64 size)
{
    done_ = done;
    size_ = size;
    draw(done >= size);
}

void TerminalProgress::setSpeed(const QString& speed)
{
    speed_ = speed;
    draw(false);
}

void TerminalProgress::clear()
{
    if (!shown_)
        return;
    writeError(QLatin1Char('\r') + QString(shownWidth_, QLatin1Char(' ')) + QLatin1Char('\r'));
    shown_ = false;
}

void TerminalProgress::draw(bool now)
{
    if (!enabled_)
        return;
    if (!now && sinceDrawn_.isValid() && sinceDrawn_.elapsed() < kRedrawInterval.count())
        return;
    sinceDrawn_.start();
    const QString line = progressBarText(name_, done_, size_, speed_);
    // A shorter line must not leave the end of the longer one before it.
    const QString padding(std::max(0, shownWidth_ - int(line.size())), QLatin1Char(' '));
    writeError(QLatin1Char('\r') + line + padding);
    shownWidth_ = std::max(shownWidth_, int(line.size()));
    shown_ = true;
}
