#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSslCertificate>
#include <QString>

#include <optional>

// The JSON documents of LocalSend's protocol, version 2, as this side writes and reads
// them. Whatever a device sends is read only up to kMaxDocumentBytes, and plain text.

constexpr qint64 kMaxDocumentBytes = 256 * 1024;
// The most files one prepare-upload may offer, either way.
constexpr int kMaxFilesPerSession = 1000;
// Names, ids and tokens longer than this are not taken.
constexpr int kMaxFieldChars = 1024;

// Who this side is, as register, info and prepare-upload tell it.
struct DeviceInfo {
    QString alias;
    QString deviceType; // "mobile", "desktop", "headless"...
    QString fingerprint;
    quint16 port = 0;
};

struct OfferedFile {
    QString id;
    QString fileName; // relative, with '/' between a folder's parts
    qint64 size = 0;
    QString preview; // a text message's text
};

// The sessionId and the tokens of the files a receiver accepted, by file id.
struct Acceptance {
    QString sessionId;
    QMap<QString, QString> tokens;
};

// This computer as LocalSend devices list it: by its host name, and by the SHA-256 of the
// certificate its LocalSend port shows, when it has one.
DeviceInfo ownDeviceInfo(const QSslCertificate& certificate = QSslCertificate());

QByteArray infoDocument(const DeviceInfo& info);
QByteArray prepareUploadDocument(const DeviceInfo& info, const QList<OfferedFile>& files);
// The device a register or info answer describes; nothing for anything else.
std::optional<DeviceInfo> readDeviceInfo(const QByteArray& document);
std::optional<Acceptance> readAcceptance(const QByteArray& document);

// A prepare-upload as a receiver reads it: the sender and its files.
struct UploadOffer {
    DeviceInfo sender;
    QList<OfferedFile> files;
};
// Nothing for a document that is not one, too big, or offers too many files.
std::optional<UploadOffer> readUploadOffer(const QByteArray& document);
QByteArray acceptanceDocument(const Acceptance& acceptance);
