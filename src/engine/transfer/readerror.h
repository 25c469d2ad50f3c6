#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

// Why reading a file that is being sent gave fewer bytes than asked for: the system's
// error, or that the file has become shorter since its size was measured.
QString shortReadText(const QFileDevice& file);

// Reads up to length bytes from offset from through fd, a descriptor it takes over and
// closes: for the disk worker. error says why when fewer came.
struct BlockRead {
    QByteArray bytes;
    QString error;
};
BlockRead readBlockAt(int fd, qint64 from, qint64 length);
