#include "receiving/receivedhistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <optional>

namespace
{

QJsonObject entryToJson(const ReceivedEntry& entry)
{
    return {{QStringLiteral("time"), entry.time.toString(Qt::ISODate)},
            {QStringLiteral("name"), entry.name},
            {QStringLiteral("size"), QString::number(entry.size)},
            {QStringLiteral("peer"), entry.peer},
            {QStringLiteral("path"), entry.path},
            {QStringLiteral("private"), entry.isPrivate},
            {QStringLiteral("folder"), entry.folder}};
}

// Sizes are written as text: a JSON number loses precision above 2^53 bytes.
std::optional<ReceivedEntry> entryFromJson(const QJsonObject& object)
{
    ReceivedEntry entry;
    entry.time =
        QDateTime::fromString(object.value(QStringLiteral("time")).toString(), Qt::ISODate);
    entry.name = object.value(QStringLiteral("name")).toString();
    bool sizeRead = false;
    entry.size = object.value(QStringLiteral("size")).toString().toLongLong(&sizeRead);
    entry.peer = object.value(QStringLiteral("peer")).toString();
    entry.path = object.value(QStringLiteral("path")).toString();
    entry.isPrivate = object.value(QStringLiteral("private")).toBool(); // plain in older files
    entry.folder = object.value(QStringLiteral("folder")).toString();
    if (!entry.time.isValid() || !sizeRead || entry.path.isEmpty())
        return std::nullopt;
    return entry;
}

} // namespace

ReceivedHistory::ReceivedHistory(const QString& filePath) : filePath_(filePath)
{
    reload();
}

void ReceivedHistory::reload()
{
    entries_.clear();
    QFile file(filePath_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonArray array = QJsonDocument::fromJson(file.readAll()).array();
    for (const QJsonValue& value : array) {
        if (entries_.size() == kKept)
            break;
        if (const auto entry = entryFromJson(value.toObject()))
            entries_.append(*entry);
    }
}

bool ReceivedHistory::add(const ReceivedEntry& entry)
{
    entries_.prepend(entry);
    while (entries_.size() > kKept)
        entries_.removeLast();
    return save();
}

bool ReceivedHistory::save() const
{
    QJsonArray array;
    for (const ReceivedEntry& entry : entries_)
        array.append(entryToJson(entry));
    QDir().mkpath(QFileInfo(filePath_).absolutePath());
    QSaveFile file(filePath_);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(array).toJson());
    return file.commit();
}
