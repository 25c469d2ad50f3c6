#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// One file that arrived whole.
struct ReceivedEntry {
    QDateTime time;
    QString name; // as the sender announced it
    qint64 size = 0;
    QString peer;           // the sender: the address book's name for the address, or the address
    QString path;           // where it was saved
    bool isPrivate = false; // it came on the private port
    QString folder = {};    // the received folder it went into; empty for a loose file
};

// The files received lately, newest first, kept in a JSON file of their own so that they
// are there after a restart. Only the last kKept are kept.
class ReceivedHistory
{
public:
    static constexpr int kKept = 100;

    // Reads what the file holds. A missing file is an empty history; entries that cannot
    // be understood are skipped.
    explicit ReceivedHistory(const QString& filePath);

    const QList<ReceivedEntry>& entries() const { return entries_; }
    // Reads the file anew, as another copy of this user may have added to it.
    void reload();

    // Puts the entry first and writes the file at once. Returns false when the file could
    // not be written; the entry is kept in memory all the same.
    bool add(const ReceivedEntry& entry);

private:
    bool save() const;

    QString filePath_;
    QList<ReceivedEntry> entries_;
};
