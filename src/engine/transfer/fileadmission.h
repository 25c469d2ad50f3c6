#pragma once

#include "transfer/receiveend.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>

class PartFiles;
class ReceiveFile;
struct PartSender;

// Why an announced file was not taken, whichever port announced it.
struct FileRefusal {
    enum class Why { NameUnusable, NoSaveFolder, NoRoom, CannotCreate };
    Why why = Why::NameUnusable;
    ReceiveEnd::Outcome outcome = ReceiveEnd::Outcome::Refused;
    QString status; // the receiver's words: "Refused: the file name cannot be used"
};

// Takes the file that sender offered as offered, to be saved as name, of size bytes:
// checks the name, the save folder and the room for strangers' part files, and creates its
// part file in file. Nothing when it was taken.
std::optional<FileRefusal> admitFile(ReceiveFile& file, const QString& saveFolder,
                                     const QByteArray& name, PartFiles& parts,
                                     const PartSender& sender, const QByteArray& offered,
                                     qint64 size);

// The receiver's words for what ends a connection, the same on either port.
QString nameUnusableStatus();
QString noSaveFolderStatus();
QString cannotSaveStatus(const QString& error);
QString notInAddressBookStatus(const QString& peer);
QString idleStatus(std::chrono::milliseconds idleTimeout);
QString tooSlowStatus(qint64 minProgressBytes, std::chrono::milliseconds window);
QString gaveWayStatus();
