#include "window/receivedfolders.h"

#include "window/traytexts.h"

#include <QFileInfo>

struct ReceivedFolders::Tally {
    QTimer quiet;
    QString peer;
    int files = 0;
    qint64 bytes = 0;
};

ReceivedFolders::ReceivedFolders(Done done, std::chrono::milliseconds quiet, QObject* parent)
    : QObject(parent), done_(std::move(done)), quiet_(quiet)
{
}

ReceivedFolders::~ReceivedFolders() = default;

void ReceivedFolders::add(const QString& folder, const QString& peer, qint64 size)
{
    std::unique_ptr<Tally>& tally = tallies_[folder];
    if (!tally) {
        tally = std::make_unique<Tally>();
        tally->quiet.setSingleShot(true);
        tally->quiet.setInterval(quiet_);
        connect(&tally->quiet, &QTimer::timeout, this, [this, folder] { quiet(folder); });
    }
    tally->peer = peer;
    ++tally->files;
    tally->bytes += size;
    tally->quiet.start();
}

void ReceivedFolders::quiet(const QString& folder)
{
    const auto found = tallies_.find(folder);
    if (found == tallies_.end())
        return;
    const std::unique_ptr<Tally> tally = std::move(found->second);
    tallies_.erase(found);
    done_(folder, tally->peer, tally->files, tally->bytes);
}

QString receivedFolderNotice(const QString& folder, int files, qint64 bytes, const QString& peer)
{
    const QString count =
        files == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(files);
    return QStringLiteral("%1, %2, %3, from %4")
        .arg(QFileInfo(folder).fileName(), count, readableSize(bytes), peer);
}
