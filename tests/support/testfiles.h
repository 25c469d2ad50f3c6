#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QRandomGenerator>
#include <QString>

// Random content, so that a file that arrives whole cannot be mistaken for another.
inline QByteArray someBytes(qsizetype size)
{
    QList<quint32> words(size / 4 + 1);
    QRandomGenerator::global()->fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), size);
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}
