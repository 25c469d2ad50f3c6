#include "text/resumetext.h"

QString resumingText(qint64 offset, qint64 size)
{
    const qint64 percent = size > 0 ? offset * 100 / size : 100;
    return QStringLiteral("Resuming at %1 %").arg(percent);
}
