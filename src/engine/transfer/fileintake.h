#pragma once

#include "transfer/filedigest.h"
#include "transfer/filerefusal.h"
#include "transfer/partfiles.h"
#include "transfer/receivedtree.h"
#include "transfer/receiveend.h"
#include "transfer/receivefile.h"
#include "transfer/receiverlimits.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

// Where the files of one connection come in, whichever protocol brings them. The
// connection reads the wire and hands over what it read: an offer, the file's bytes, the
// end of them. Each file then goes the same way: admitted (its name, the save folder, the
// room strangers have), its part file made, taken over or continued, written, checked
// against the sender's digest where the protocol has one, synced and given its final
// name. What a sender must keep to and what reaches the disk is decided here, once for
// every protocol.
class FileIntake : public QObject
{
    Q_OBJECT

public:
    // A file as its sender offered it.
    struct Offer {
        PartSender sender;
        QByteArray path; // as announced: a bare name, or a path inside a folder
        qint64 size = 0;
        bool folders = false; // a path of several parts makes its folders; else it is a name
        bool resumes = false; // a part file the same key left for it goes on
        // The kind of check the sender's digest is, compared before the file is saved; none
        // when the protocol has none.
        std::optional<Checksum::Kind> digested = std::nullopt;
    };

    // parts must outlive the intake.
    FileIntake(const QString& saveFolder, const ReceiverLimits& limits, PartFiles& parts,
               QObject* parent = nullptr);
    // A file in hand stays a part file.
    ~FileIntake() override;

    // The files admitted from now on go into tree's folders: those of one sender that
    // come on several connections make one folder, not one for each connection.
    void shareTree(std::shared_ptr<ReceivedTree> tree);
    // Takes the offered file, or says why not. Its bytes then go on from received().
    std::optional<FileRefusal> admit(const Offer& offer);
    // The file's next bytes, no more than missing(). False when they could not be written:
    // the file is removed, giving its space back, and problem() says why.
    bool write(const QByteArray& bytes);
    // From now on, a file may wait for the disk before its bytes are written, rather than
    // hold the event loop. Its part file, when none is ready made, is made on the disk
    // worker. A file larger than the first write-back step has its space on the disk set
    // aside there: otherwise the disk finds room for its bytes as it writes the file back,
    // and a write to the file's end waits for that. Meanwhile waitsForDisk(); diskReady()
    // follows, or settled(CannotSave) when the file cannot be made or the disk has no room
    // for it. A file kept as a part file gives back the room it does not fill.
    void reserveSpace() { reserves_ = true; }
    bool waitsForDisk() const { return reserving_ || awaiting_.has_value(); }
    // Every byte is in, and there is no digest to check: the file is synced, takes its
    // final name, and its folder is synced, off the event loop; settled() follows.
    void save();
    // Every byte is in: the file is saved if they match digest; settled() follows.
    void check(const QByteArray& digest);
    // The file in hand is left as it is, a part file to go on from.
    void keepPart();

    bool isOpen() const { return file_.isOpen(); }
    // Nothing until a file is admitted.
    qint64 size() const { return size_; }
    qint64 received() const { return received_; }
    qint64 missing() const { return size_ - received_; }
    // Where the file in hand began: the bytes a continued part file held.
    qint64 offset() const { return offset_; }
    // Its name inside the save folder as it is shown: "Trip (1)/day 1/a.jpg".
    QString shownName() const;
    // Where its bytes are: the final path once saved, the part file before; empty when
    // none are kept.
    QString path() const;
    // The top folder the file went into, full path; empty for a loose file.
    const QString& topFolder() const { return place_.top; }
    // Why the last step failed: CannotSave, with what the system said.
    const ReceiveReason& problem() const { return problem_; }

Q_SIGNALS:
    // The file saved or checked is over: Saved once it lasts; Failed when its bytes did
    // not match (Mismatch), and it was removed; CannotSave when it could not be read back
    // (removed too), synced or named. Its bytes may be read back while they still arrive:
    // CannotSave may come before check(). Never comes inside save() or check(), and never
    // after keepPart() or the intake's end.
    void settled(ReceiveEnd::Outcome outcome, const ReceiveReason& reason);
    // The sender brought less than the limits ask within a window (TooSlow).
    void tooSlow(const ReceiveReason& reason);
    // Its sender goes on with the file in hand on another connection: this one lets go of
    // it at once, through keepPart().
    void takenOver();
    // The file's space is set aside: its bytes may come.
    void diskReady();

private:
    std::optional<FileRefusal> open(const Offer& offer);
    std::optional<qint64> resume(const Offer& offer, const std::optional<QString>& part);
    // Checks the name, the save folder and the room for strangers' files, and only then
    // makes the folders the file needs and its part file. A file refused leaves no folder
    // behind.
    std::optional<FileRefusal> make(const Offer& offer);
    // Makes the part file for name in folder, or takes a leftover over.
    // Or, when it may wait, has it made (awaiting_).
    bool create(const Offer& offer, HeldFolder folder, const QString& name);
    bool openNamed(const Offer& offer);
    void spareCame(quint64 file, int fd);
    void begin(const Offer& offer, qint64 offset);
    // Whether the file in hand has its room set aside (or, lacking a descriptor for it, had
    // it found as it is written: giving back what is not there costs nothing).
    bool setsRoomAside() const;
    void reserve(qint64 size);
    // The space set aside for the file inHand_ was then, or error.
    void reserved(quint64 file, int error);
    void digested(const QByteArray& digest);
    void writeBack();
    void synced(int error);
    // Names the file whose sync ended with syncError; a descriptor to sync its folder
    // through, or -1 with problem() saying why.
    int takeName(int syncError, FileIdentity& folder);
    void notSaved(const QString& why);
    void readBackFailed(const QString& description);
    void discard();
    void checkProgress();
    void stopWatching();

    ReceiverLimits limits_;
    PartFiles& parts_;
    std::shared_ptr<ReceivedTree> tree_;
    ReceivedTree::Place place_;
    ReceiveFile file_;
    FileDigest digest_;
    QTimer progressCheck_;
    QByteArray announced_;          // the sender's digest
    std::optional<Offer> awaiting_; // admitted, its part file still to come
    ReceiveReason problem_;
    qint64 size_ = 0;
    qint64 offset_ = 0;
    qint64 received_ = 0;
    qint64 receivedAtLastCheck_ = 0;
    bool made_ = false; // a file was made and is still there
    bool digested_ = false;
    bool checking_ = false;
    bool saving_ = false; // the file is being made to last
    bool writingBack_ = false;
    bool reserves_ = false;
    bool reserving_ = false;
    quint64 inHand_ = 0; // counts the files taken in hand and let go of
};
