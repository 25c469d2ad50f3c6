#pragma once

#include "localsend/messages.h"
#include "transfer/receivedtree.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class Clock;

// The files LocalSend devices were told they may upload. A prepare-upload opens a session
// for its sender's address with one token per file taken; each upload must come from that
// address with its file's token, once. One session at a time, as such devices expect: a
// second sender is told the receiver is busy until the first one's files are over, it
// cancels, or it has fallen silent for kQuietSession with no upload under way.
class UploadSessions : public QObject
{
    Q_OBJECT

public:
    static constexpr auto kQuietSession = std::chrono::minutes(2);

    // clock must outlive the sessions.
    explicit UploadSessions(const Clock& clock, QObject* parent = nullptr);

    // A file an upload may bring, and the folders of its session, shared by the
    // session's uploads whichever connection they come on.
    struct Upload {
        OfferedFile file;
        std::shared_ptr<ReceivedTree> tree;
    };

    // Opens peer's session for files, to be saved in saveFolder, a sender's earlier one
    // ending with it; nothing when another sender's session still goes on.
    std::optional<Acceptance> open(const QString& peer, const QList<OfferedFile>& files,
                                   const QString& saveFolder);
    // The file that an upload from peer with these query values is for, taken by it:
    // nothing unless it is peer's session, the token is the file's, and the file was not
    // uploaded before.
    std::optional<Upload> take(const QString& peer, const QString& sessionId, const QString& fileId,
                               const QString& token);
    // The upload of a file taken is over, whatever became of it.
    void release(const QString& sessionId, const QString& fileId);
    // Ends peer's session; false when it is not theirs.
    bool cancel(const QString& peer, const QString& sessionId);

Q_SIGNALS:
    // Its sender cancelled the session: uploads still under way for it end.
    void cancelled(const QString& sessionId);

private:
    struct File {
        OfferedFile offer;
        QString token;
        bool taken = false;
        bool uploading = false;
    };
    bool goesOn() const;
    void endIfOver();

    const Clock& clock_;
    QString id_; // empty when no session is open
    QString peer_;
    QHash<QString, File> files_;
    std::shared_ptr<ReceivedTree> tree_;
    std::chrono::milliseconds lastHeard_{};
};

// Those of files a receiver can take by their names: no folder part that is absent,
// "." or "..", hidden, or unfit for a file name here.
QList<OfferedFile> takeableFiles(const QList<OfferedFile>& files);
