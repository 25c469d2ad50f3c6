#pragma once

#include "platform/checksum.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>

// The messages of the private port, as docs/protocol.md describes them: a type byte, a
// 4-byte big-endian length and a body whose length each type bounds.

constexpr quint16 kPrivatePort = 1053;
constexpr quint16 kPrivateVersion = 1;
// What this copy can do beyond version 1 (the HELLO's feature bits).
constexpr quint32 kFeatureResume = 0x1;
constexpr quint32 kFeatureFolders = 0x2;
constexpr quint32 kFeatureQuickCheck = 0x4;
// The sender may offer files before those before them are answered: at most
// pipelineWindow() accepted files awaiting SAVED or FAILED.
constexpr quint32 kFeaturePipeline = 0x8;
// A file of at most one DATA goes at once: its DATA and END follow its FILE without
// waiting for the ACCEPT, which then always says 0. A receiver that refuses such a file
// passes over its DATA and END.
constexpr quint32 kFeatureEager = 0x10;
constexpr quint32 kOurFeatures =
    kFeatureResume | kFeatureFolders | kFeatureQuickCheck | kFeaturePipeline | kFeatureEager;

// How many accepted files may await their answers, given the features both sides set: 1
// without the pipeline; with it kPipelineWindow, or kEagerPipelineWindow where small files
// also go eagerly, as a burst of them then arrives faster than a group of syncs takes.
// Either stays below the room for a stranger's unfinished files, so that a stranger's own
// burst is never refused for it.
constexpr int kPipelineWindow = 32;
constexpr int kEagerPipelineWindow = 64;
int pipelineWindow(quint32 features);

// Whether a file of size goes eagerly, its DATA and END right after its FILE, given the
// features both sides set.
bool goesEagerly(quint32 features, qint64 size);

// The check END carries, given the features both sides set: XXH3-128 with the quick
// check, SHA-256 without.
Checksum::Kind fileCheckOf(quint32 features);

// How much longer than its idle time a side waits for the other while that side may be
// reading back the first offset bytes of a file that goes on from there: one second for
// every 32 MiB, the pace of a slow disk.
std::chrono::milliseconds readBackAllowance(qint64 offset);

constexpr int kMessageHeaderBytes = 5;
constexpr qint64 kMaxDataBytes = 256 * 1024;
constexpr qint64 kEagerBytes = kMaxDataBytes;
constexpr int kMaxPathBytes = 4095;
constexpr int kMaxReasonTextBytes = 1024;
constexpr int kMaxChatBytes = 65536;

enum class MessageType : quint8 {
    Hello = 0x01,
    File = 0x10,
    Accept = 0x11,
    Refuse = 0x12,
    Data = 0x20,
    End = 0x21,
    Count = 0x22,
    Saved = 0x23,
    Failed = 0x24,
    Chat = 0x30,
    Heard = 0x31,
    Bye = 0x3F,
    Error = 0x7F,
};

// Why a file or a connection was turned away, in REFUSE, FAILED and ERROR.
enum class Reason : quint8 {
    Unknown = 0, // any number this copy does not know
    NameUnusable = 1,
    CannotSave = 2,
    NoRoom = 3,
    DigestMismatch = 4,
    ProtocolError = 5,
    NoCommonVersion = 6,
    NotInAddressBook = 7,
    KeyChanged = 8,
    TooSlow = 9,
    Stopping = 10,
};

struct PrivateMessage {
    MessageType type = MessageType::Bye;
    QByteArray body;
};

// Whether type is known and length within its bounds (for END, either check's length).
bool isValidMessage(quint8 type, qint64 length);

QByteArray encodeMessage(MessageType type, const QByteArray& body = {});
// The header of a DATA message of length bytes, for writing its body straight after.
QByteArray dataHeader(qint64 length);

QByteArray helloMessage(quint16 version = kPrivateVersion, quint32 features = kOurFeatures);
QByteArray fileMessage(qint64 size, const QByteArray& path);
QByteArray acceptMessage(qint64 offset);
QByteArray endMessage(const QByteArray& digest);
QByteArray countMessage(qint64 total);
QByteArray chatMessage(const QString& line);
// REFUSE, FAILED or ERROR; text is cut to the limit at a character's boundary.
QByteArray reasonMessage(MessageType type, Reason reason, const QString& text);

struct Hello {
    quint16 version = 0;
    quint32 features = 0;
};
struct FileOffer {
    qint64 size = 0;
    QByteArray path;
};
struct ReasonText {
    Reason reason = Reason::Unknown;
    QString text; // the peer's, shown on one line (text/peertext.h) wherever it goes
};

// Each returns nothing when the body is not what its type requires.
std::optional<Hello> parseHello(const QByteArray& body);
std::optional<FileOffer> parseFileOffer(const QByteArray& body);
// The number of ACCEPT and COUNT: below 2^63.
std::optional<qint64> parseNumber(const QByteArray& body);
std::optional<ReasonText> parseReason(const QByteArray& body);
std::optional<QString> parseChat(const QByteArray& body);
