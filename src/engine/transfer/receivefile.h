#pragma once

#include "platform/heldfolder.h"
#include "transfer/partnaming.h"

#include <QFile>
#include <QString>

#include <functional>
#include <optional>

// The file being received. It is written as "<name>.part", or with no name at all, and
// takes its final name only once it is whole and on the disk, so a file under its final
// name is always complete, power cut or not. A file with no name needs no record before it
// is made, and leaves nothing behind when the program is cut off: it is sent again whole. Neither
// name may exist before: nothing in the save folder is ever replaced, and a link planted under
// either name is never followed. The one exception is a part file that this receiver left behind
// itself, from a transfer of the same name from the same sender that broke off: that sender trying
// again takes it over, instead of leaving one more part file each time.
//
// Everything happens in its folder as it was walked to and held, never by a path found
// again: made, taken over, continued, synced and renamed there. A part file is taken over
// or continued only while it is still the file recorded and has no other name.
class ReceiveFile
{
public:
    // The identity recorded for the part file at path when it is a leftover that may be
    // taken over; nothing when it may not.
    using Leftover = std::function<std::optional<FileIdentity>(const QString& path)>;

    // Whether the part file at path is being written by a file with no name yet.
    using Reserved = std::function<bool(const QString& path)>;

    // Chooses the names for a received file named name in folder, held, which is at
    // folderPath: the first free final name whose part name is free too or a leftover,
    // and not reserved. Nothing is made yet. Returns false when every name is taken;
    // error() then says so.
    bool choose(HeldFolder folder, const QString& folderPath, const QString& name,
                const Leftover& leftover, const Reserved& reserved = {});
    // Whether open() takes a leftover over rather than making the part file anew.
    bool takesOver() const { return takeOver_.has_value(); }
    // Makes the part file chosen, where nothing may stand yet, or takes the leftover chosen
    // over, emptying it. Returns false when it could not; error() then says why.
    bool open();
    // Makes the file with no name, to take its part name through takePartNaming(), or its
    // final name once whole; or takes spare, such a file made elsewhere on the folder's file
    // system, when it is given (it is closed when it cannot be taken). Returns false when
    // the file system or the system cannot; open() then may.
    bool openUnnamed(int spare = -1);
    // Made with no name, and none on its way.
    bool isUnnamed() const { return unnamed_; }
    // What gives a file with no name its part name on the disk worker; from then on the
    // file is treated as having it, and takeName() and discard() find out whether it has.
    // Nothing for a file that has a name or one on its way, or when the system gives no
    // descriptor.
    std::optional<PartNaming> takePartNaming();
    // Whether nothing stands under the part name.
    bool partNameFree() const;
    // Opens partPath, a leftover part file of a file of size bytes in folder, held, to go
    // on writing at its end, while it is still the file recorded. Returns the bytes it
    // holds, or nothing when it cannot be continued; error() then says why.
    std::optional<qint64> resume(HeldFolder folder, const QString& partPath, FileIdentity recorded,
                                 qint64 size);
    // The name the file will have once whole.
    const QString& finalName() const { return finalName_; }
    // The part file open.
    FileIdentity identity() const { return identity_; }
    // A descriptor of its own to read the part file back through, to close after; -1 when
    // the part file is not the one written any more.
    int readBack() const;

    // Returns false when not every byte could be written; error() then says why.
    bool write(const QByteArray& bytes);
    // Every so many bytes written, the system is asked to start writing them to the disk,
    // so that the sync before the final name finds little left to do; waiting for the
    // step asked for before keeps no more than two steps waiting for the disk. Now and
    // then a step syncs what is written so far instead, so that the disk's own cache is
    // emptied along the way rather than all at the end. What is on the disk then leaves
    // the system's memory. Both are for the disk worker: a descriptor of its own (-1 when
    // none is due) and the range, all before which the steps before asked for. The
    // descriptor opens the file anew, as the system tells a failed write to the disk only
    // once to each opening: the sync at the end hears of it, whatever these steps heard.
    struct WriteBack {
        int fd = -1;
        qint64 from = 0;
        qint64 length = 0;
        bool sync = false;
        void run() const; // closes fd
    };
    WriteBack takeWriteBack();
    // The disk's space for the rest of a file of size bytes, set aside before it is written,
    // by the disk worker: a descriptor of its own, closed after, and the range. run()
    // returns 0, or the system's error number when the disk has no room for the file.
    // Nothing when the system gives no descriptor.
    struct Reservation {
        int fd = -1;
        qint64 from = 0;
        qint64 length = 0;
        int run() const;
    };
    std::optional<Reservation> reservation(qint64 size);
    // The room set aside beyond the bytes the file holds, given back by the disk worker
    // when the file stays a part file: a descriptor of its own, which run() closes; -1 when
    // the system gives none.
    struct RoomBack {
        int fd = -1;
        void run() const;
    };
    RoomBack roomBack();
    // A complete file is made to last in three steps: its bytes synced, then its name
    // taken, then its folder synced, each step only once the one before has come back.
    // A descriptor of its own to sync the part file through, to close after; -1 when the
    // system gives none, with error() saying why.
    int syncHandle();
    // Closes the synced file and gives it its final name. Returns false when it could not
    // be named; it then stays a part file, and error() says why.
    bool takeName();
    // A descriptor of its own to sync the folder through, to close after, and which
    // folder that is; -1 as syncHandle().
    int folderSyncHandle(FileIdentity& folder);
    // Closes a file that is not complete: one with a part name keeps it, one with no name
    // is gone.
    void close();
    // Closes the file and removes it, giving its space back.
    void discard();

    bool isOpen() const { return part_.isOpen(); }
    // The folder chosen for the file.
    const HeldFolder& folder() const { return folder_; }
    // Where the bytes are: the final path once whole and named, the part file before.
    QString path() const;

    const QString& error() const { return error_; }

private:
    QByteArray partName() const;
    bool hold(int fd, QIODevice::OpenMode mode, bool unnamed = false);

    QFile part_;
    HeldFolder folder_;
    QString folderPath_;
    QString finalName_;
    QString error_;
    std::optional<FileIdentity> takeOver_; // what the leftover chosen was recorded as
    FileIdentity identity_;
    bool named_ = false;
    bool unnamed_ = false;   // made with no name, and none given yet
    bool naming_ = false;    // made with no name, and its part name given on the worker
    qint64 written_ = 0;     // bytes written since the file was opened
    qint64 writtenBack_ = 0; // of those, how many the system was asked to write out
    qint64 syncedBack_ = 0;  // of those, how many were synced on the way
};
