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
    bar.setValue(whole);
}
