#pragma once

#include "platform/checksum.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

// The check of a whole file (a Checksum of the kind asked for) that is read or written in
// order, of which the first bytes may be on the disk only: a transfer that continues from
// an offset. Those bytes are read back a step at a time on the disk worker, and so are the
// bytes that come meanwhile, which are in the file already; once it has caught up, the
// bytes given to add() are taken straight away. No more than one step of the file is ever
// held. While a step is out, the running check goes with it, and only it touches it.
class FileDigest : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kStepBytes = 4 * 1024 * 1024;

    explicit FileDigest(QObject* parent = nullptr);
    ~FileDigest() override;

    // Starts anew, a check of kind, for the file at path, whose first offset bytes are
    // there already.
    void start(const QString& path, qint64 offset, Checksum::Kind kind);
    // Starts anew for the file open for reading as fd, which it closes; -1 for a file that
    // cannot be read back.
    void start(int fd, qint64 offset, Checksum::Kind kind);
    // The file's next bytes, which are in the file by now.
    void add(const QByteArray& bytes);
    // All bytes are in: finished() follows once the digest is whole, at once when it has
    // caught up.
    void finish();
    // Drops what it holds; nothing follows.
    void stop();

Q_SIGNALS:
    void finished(const QByteArray& digest);
    // The bytes could not be read back; description says why.
    void failed(const QString& description);

private:
    // What a step on the worker gives back: the check with the bytes read added, how many
    // were read, and why none could be.
    struct Step {
        std::shared_ptr<Checksum> check;
        qint64 read = 0;
        QString error;
    };

    // Opens the file to read back; nothing, or why it could not.
    std::optional<QString> open();
    void step();
    void stepped(quint64 start, const Step& step);
    void fail(const QString& description);
    void caughtUp();

    Checksum::Kind kind_ = Checksum::Kind::Sha256;
    std::shared_ptr<Checksum> check_; // none while a step has it
    QString path_;
    int fd_ = -1;       // the file to read back, once open or when it has no path
    quint64 start_ = 0; // counts the starts, so that a step of an earlier one is dropped
    QTimer stepTimer_;
    qint64 taken_ = 0; // bytes in the digest
    qint64 known_ = 0; // bytes in the file
    bool finishing_ = false;
};
