#include "presence/notices.h"

#include "platform/clocktext.h"

namespace
{

// The notice shows the time to the minute: HH:MM of HH:MM:SS.
constexpr int kNoticeTimeLength = 5;

} // namespace

QString onlineNotice(const QString& name, const QTime& arrival)
{
    return name + QStringLiteral(" is online at ") + clockText(arrival).left(kNoticeTimeLength);
}

QString receivedLineSpeaker(const QString& name)
{
    return name + QStringLiteral(" Says: ");
}

QString ownLineSpeaker()
{
    return QStringLiteral("You Said: ");
}
