#include "receiving/receivedhistory.h"

#include "platform/diskworker.h"
#include "platform/durablewrite.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

ReceivedHistory::ReceivedHistory(const QString& filePath, QObject* parent)
    : QObject(parent), filePath_(filePath)
{
    reload();
}

ReceivedHistory::~ReceivedHistory()
{
    // The results come back to no one, which the worker allows for.
    finishWrites();
}

void ReceivedHistory::whenWritten(std::function<void()> then)
{
    if (writes_ == 0 && !dirty_)
        then();
    else
        whenWritten_.append(std::move(then));
}

void ReceivedHistory::finishWrites()
{
    // Queued behind a write under way; a failed one is tried once more.
    if (dirty_ || failing_)
        write();
    if (writes_ > 0)
        DiskWorker::instance().waitForIdle();
}

// While the memory holds entries the file has not got yet, reading the file would drop
// them; they are kept instead, and the next write puts them in the file. What another copy
// added meanwhile would be written over by that write anyway.
void ReceivedHistory::reload()
{
    if (isAheadOfFile())
        return;
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

void ReceivedHistory::add(const ReceivedEntry& entry)
{
    entries_.prepend(entry);
    while (entries_.size() > kKept)
        entries_.removeLast();
    dirty_ = true;
    if (writes_ == 0)
        write();
}

void ReceivedHistory::write()
{
    QJsonArray array;
    for (const ReceivedEntry& entry : std::as_const(entries_))
        array.append(entryToJson(entry));
    dirty_ = false;
    ++writes_;
    DiskWorker::instance().run(
        this,
        [path = filePath_, bytes = QJsonDocument(array).toJson()] {
            return saveDurably(path, bytes);
        },
        [this](const QString& error) { written(error); });
}

void ReceivedHistory::written(const QString& error)
{
    --writes_;
    if (error.isEmpty()) {
        failing_ = false;
    } else if (!failing_) {
        failing_ = true;
        Q_EMIT notWritten(error);
    }
    if (writes_ > 0)
        return;
    if (dirty_) {
        write();
        return;
    }
    for (const std::function<void()>& then : std::exchange(whenWritten_, {}))
        then();
}
