#pragma once

#include "sending/filesender.h"
#include "transfer/nextfile.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

// The files waiting to be sent, and the batch that sends them one after another, each on
// a plain connection of its own or all on one private connection, which the batch's end
// closes. Rows stay in the queue after they are sent; only clear()
// removes them.
//
// A row may be a folder: when the batch reaches it, it walks it (FolderWalk) and sends its
// files one after another, each announced with its path relative to the folder's parent.
// Each file in a folder row is reported as a row of its own would be, with the folder row's
// number and the file's own path; folderEnded() follows its last file.
//
// A private connection may take the next files ahead of their turn (within a folder row,
// or loose rows that are files), to offer them while the one before is being answered:
// each is still sent and told in its turn, even if the queue is cleared meanwhile.
class FolderWalk;

// What a batch sends: a file, a folder, or one file of a folder, which goes under its path
// inside that folder as it would have with the whole folder.
struct QueuedFile {
    QString path;
    QString folder; // the folder path is inside of; empty for a row of its own

    bool operator==(const QueuedFile& other) const
    {
        return path == other.path && folder == other.folder;
    }
};

class SendBatch : public QObject
{
    Q_OBJECT

public:
    // The host to send the next file to, asked anew for every file so that a change of
    // peer during a batch takes effect from the next file on; nothing when there is none.
    using PeerLookup = std::function<std::optional<QString>()>;

    explicit SendBatch(FileSender& sender, QObject* parent = nullptr);
    ~SendBatch() override;

    const QStringList& paths() const { return paths_; }
    // The rows as queued, each with its folder.
    QList<QueuedFile> rows() const;
    void append(const QString& path) { append(QueuedFile{path, {}}); }
    void append(const QueuedFile& file);
    // Rows removed during a batch are not sent.
    void clear();
    // What is left to send of a batch in progress: the file in hand and all after it, the
    // rest of a folder file by file.
    QList<QueuedFile> rest() const;
    // The files after the one in hand, up to the next folder row still to be walked, as a
    // LocalSend session offers them.
    QList<UpcomingFile> upcoming() const;

    // Whether a file cut off ends the batch, with cutOff(); it does unless told otherwise,
    // and then the batch goes on with the next file.
    void setStopsAtCut(bool stops) { stopsAtCut_ = stops; }
    bool isRunning() const { return running_; }
    // The host of the file in hand.
    const QString& host() const { return host_; }
    // The file in hand.
    QueuedFile current() const;
    // Sends the rows there are now, in order. Does nothing while a batch runs.
    void start(PeerLookup peer);
    // Ends the batch at once and quietly: the file in progress is abandoned and no
    // further row starts.
    void stop();

Q_SIGNALS:
    // rows is the number of rows in the queue at this moment.
    void rowStarted(int row, int rows, const QString& path, const QString& host, qint64 size);
    void rowSkipped(int row, int rows, const QString& path, const QString& host,
                    const QString& reason);
    // end.path is the file's own, inside a folder row too.
    void rowFinished(int row, const SendEnd& end);
    // Every file of the folder row has been tried; allSent when none of them failed.
    void folderEnded(int row, const QString& folder, bool allSent);
    // There was no peer to send the next row to; the batch has ended.
    void noPeer();
    // The file in hand was cut off on a private connection to host, after rowFinished():
    // the batch has ended without trying the others, and rest is what was left to send,
    // the cut file first, which goes on from where it was cut when sent again.
    void cutOff(const QString& host, const QList<QueuedFile>& rest);
    void finished();

private:
    // Starts the next row that can be sent, or ends the batch.
    void sendNextRow();
    void rowEnded(const SendEnd& end);
    enum class Next { File, Walking, None };
    // Takes the next file: a folder's next one, or the next row's. A folder row is walked
    // first, a step at a time; the walk's end sends its first file.
    Next takeNext();
    void walkFolder();
    // Sends the file taken, or skips it; false when the batch is to go on to the next.
    bool sendTaken();
    // Takes the next file before its turn, for the sender to offer ahead: the next one of
    // the folder in hand, or else the next row's when it is a file.
    std::optional<NextFile> takeAhead();

    FileSender& sender_;
    QStringList paths_;
    QStringList folders_; // each row's QueuedFile::folder
    bool cut_ = false;    // the file in hand was cut off
    bool stopsAtCut_ = true;
    PeerLookup peer_;
    QTimer next_;      // starts each row from the event loop, not from inside the one before
    QTimer walkTimer_; // the next step of a folder's walk
    std::unique_ptr<FolderWalk> walk_;
    bool running_ = false;
    int nextRow_ = 0;
    int rowCount_ = 0; // the rows the batch set out to send
    // The row in progress.
    int row_ = 0;
    QString path_;
    QString host_;
    qint64 size_ = 0;
    QString announced_; // the file's path inside its folder row; empty for a loose file
    bool takenAhead_ = false;
    // Files the sender took ahead of their turn, in order: each is sent in its turn.
    struct Ahead {
        int row = 0;
        QString path;
        QString folder; // as QueuedFile's
        QString announced;
        qint64 size = 0;
    };
    QList<Ahead> ahead_;
    // The folder row in progress, if any.
    QString folder_;
    QStringList folderFiles_;
    qsizetype folderNext_ = 0;
    bool folderAllSent_ = true;
};
