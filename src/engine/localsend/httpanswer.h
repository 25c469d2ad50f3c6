#pragma once

#include <QByteArray>

// An HTTP/1.1 answer with status, and document as its JSON body when there is one. The
// connection stays open after it when keepAlive, and is closed otherwise.
QByteArray httpAnswer(int status, const QByteArray& document, bool keepAlive);
