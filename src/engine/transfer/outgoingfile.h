#pragma once

#include "transfer/filedigest.h"
#include "transfer/readerror.h"

#include <QFile>
#include <QObject>

#include <optional>

// The file being sent, whichever protocol sends it: read a block at a time from where
// the receiver has it start up to the size measured before, with, where the protocol
// sends one, the check of the whole file taken on the way. A file that has become
// shorter since it was measured fails to read; it is never sent short.
//
// A block the system holds in its memory is read at once; one it would have to wait for
// the disk to bring is read on the disk worker, so that a slow disk holds up this file
// alone, not the event loop.
class OutgoingFile : public QObject
{
    Q_OBJECT

public:
    // The receiver cannot tell: the bytes on the wire are the same whatever the size of
    // the pieces.
    static constexpr qint64 kBlockBytes = 256 * 1024;

    explicit OutgoingFile(QObject* parent = nullptr);

    // Opens path to send its bytes from offset up to size; digested takes a check of that
    // kind, the bytes before offset read back for it. False when it cannot be read;
    // error() then says why.
    bool open(const QString& path, qint64 size, qint64 offset,
              std::optional<Checksum::Kind> digested);
    bool isOpen() const { return file_.isOpen(); }
    bool hasMore() const { return sent_ < size_; }
    // Whether next() can be called now. When not, the block is on its way from the disk,
    // and blockReady() follows.
    bool blockAtHand();
    // The next block, of kBlockBytes at most, once blockAtHand(); empty when it could not
    // be read whole, and error() says why.
    QByteArray next();
    // Every block has been handed over: the file is closed, and digested() follows.
    void finish();
    // Drops the file and its digest; nothing follows.
    void close();
    const QString& error() const { return error_; }

Q_SIGNALS:
    void digested(const QByteArray& digest);
    // The bytes before the offset could not be read back; description says why.
    void readBackFailed(const QString& description);
    // The block that was on its way from the disk is at hand.
    void blockReady();

private:
    void readOnWorker(qint64 length);
    void blockRead(quint64 opening, const BlockRead& read);

    QFile file_;
    QByteArray ahead_;    // the next block, read before it was asked for
    quint64 opening_ = 0; // counts the files opened and closed
    bool reading_ = false;
    FileDigest digest_;
    QString error_;
    qint64 size_ = 0;
    qint64 sent_ = 0;
    bool digesting_ = false;
};
