#include "transfer/readerror.h"

QString shortReadText(const QFileDevice& file)
{
    return file.error() != QFileDevice::NoError
               ? file.errorString()
               : QStringLiteral("The file has become shorter than it was");
}
