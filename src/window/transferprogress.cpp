#include "window/transferprogress.h"

#include "plain/protocol.h"

#include <QLabel>
#include <QProgressBar>

void showTransferProgress(QLabel& bytes, QLabel& percent, QProgressBar& bar, qint64 done,
                          qint64 size)
{
    const int whole = percentage(done, size);
    bytes.setText(QString::number(done));
    percent.setText(QStringLiteral("%1 %").arg(whole));
    setBarValue(bar, whole);
}

void setBarValue(QProgressBar& bar, int value)
{
    // Its paint at once does nothing while its updates are off; turned back on, it asks
    // for the next paint.
    const bool updates = bar.updatesEnabled();
    bar.setUpdatesEnabled(false);
    bar.setValue(value);
    bar.setUpdatesEnabled(updates);
}
