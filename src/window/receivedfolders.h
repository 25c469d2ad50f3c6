#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

// The files of received folders, added up so that a folder is news once: when no file of
// it has come for a quiet while, done() tells how many came, how large, and from whom.
class ReceivedFolders : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kQuiet{2000};

    using Done =
        std::function<void(const QString& folder, const QString& peer, int files, qint64 bytes)>;
    explicit ReceivedFolders(Done done, std::chrono::milliseconds quiet = kQuiet,
                             QObject* parent = nullptr);
    ~ReceivedFolders() override;

    // One more file of folder (its path as saved), of size bytes, from peer.
    void add(const QString& folder, const QString& peer, qint64 size);

private:
    struct Tally;
    void quiet(const QString& folder);

    Done done_;
    std::chrono::milliseconds quiet_;
    std::map<QString, std::unique_ptr<Tally>> tallies_;
};

// "Trip, 214 files, 1.2 GB, from Anna".
QString receivedFolderNotice(const QString& folder, int files, qint64 bytes, const QString& peer);
