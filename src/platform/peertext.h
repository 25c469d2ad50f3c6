#pragma once

#include <QByteArray>
#include <QString>

// Text as a peer sent it: UTF-8 when the bytes are valid UTF-8, otherwise the Windows
// 8-bit text (Windows-1252) that older peers send. What we send is always UTF-8.
QString textFromPeer(const QByteArray& bytes);
