#include "localsend/messages.h"

#include "localsend/deviceclient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

namespace
{

const QString kVersion = QStringLiteral("2.1");

QJsonObject infoObject(const DeviceInfo& info)
{
    QJsonObject object{
        {QStringLiteral("alias"), info.alias},
        {QStringLiteral("version"), kVersion},
        {QStringLiteral("deviceModel"), QStringLiteral("Quillo")},
        {QStringLiteral("deviceType"), info.deviceType},
        {QStringLiteral("fingerprint"), info.fingerprint},
        {QStringLiteral("protocol"), QStringLiteral("https")},
        {QStringLiteral("download"), false},
    };
    if (info.port)
        object.insert(QStringLiteral("port"), info.port);
    return object;
}

std::optional<QJsonObject> readObject(const QByteArray& document)
{
    if (document.size() > kMaxDocumentBytes)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(document, &error);
    if (error.error != QJsonParseError::NoError || !json.isObject())
        return std::nullopt;
    return json.object();
}

std::optional<QString> field(const QJsonObject& object, const QString& name, bool required = true)
{
    const QJsonValue value = object.value(name);
    if (!value.isString())
        return required ? std::nullopt : std::optional<QString>(QString());
    if (value.toString().size() > kMaxFieldChars)
        return std::nullopt;
    return value.toString();
}

std::optional<DeviceInfo> deviceInfo(const QJsonObject& object)
{
    const auto alias = field(object, QStringLiteral("alias"));
    const auto type = field(object, QStringLiteral("deviceType"), false);
    const auto fingerprint = field(object, QStringLiteral("fingerprint"), false);
    if (!alias || !type || !fingerprint)
        return std::nullopt;
    const int port = object.value(QStringLiteral("port")).toInt(0);
    return DeviceInfo{*alias, *type, *fingerprint, quint16(port > 0 && port < 65536 ? port : 0)};
}

std::optional<OfferedFile> offeredFile(const QJsonValue& value)
{
    const QJsonObject object = value.toObject();
    const auto id = field(object, QStringLiteral("id"));
    const auto name = field(object, QStringLiteral("fileName"));
    const QJsonValue size = object.value(QStringLiteral("size"));
    if (!id || !name || !size.isDouble() || size.toDouble() < 0 || size.toDouble() > 9.0e15)
        return std::nullopt;
    // A text message's preview is its whole text, which a chat line caps in its turn.
    const QString preview = object.value(QStringLiteral("preview")).toString().left(kMaxFieldChars);
    return OfferedFile{*id, *name, qint64(size.toDouble()), preview};
}

} // namespace

DeviceInfo ownDeviceInfo(const QSslCertificate& certificate)
{
    const QString fingerprint =
        certificate.isNull() ? QString()
                             : QString::fromLatin1(certificateFingerprint(certificate).toHex());
    return {QSysInfo::machineHostName(), QStringLiteral("desktop"), fingerprint, 53317};
}

QByteArray infoDocument(const DeviceInfo& info)
{
    return QJsonDocument(infoObject(info)).toJson(QJsonDocument::Compact);
}

QByteArray prepareUploadDocument(const DeviceInfo& info, const QList<OfferedFile>& files)
{
    QJsonObject offered;
    for (const OfferedFile& file : files) {
        QJsonObject object{
            {QStringLiteral("id"), file.id},
            {QStringLiteral("fileName"), file.fileName},
            {QStringLiteral("size"), double(file.size)},
            {QStringLiteral("fileType"), file.preview.isEmpty()
                                             ? QStringLiteral("application/octet-stream")
                                             : QStringLiteral("text/plain")},
        };
        if (!file.preview.isEmpty())
            object.insert(QStringLiteral("preview"), file.preview);
        offered.insert(file.id, object);
    }
    const QJsonObject document{{QStringLiteral("info"), infoObject(info)},
                               {QStringLiteral("files"), offered}};
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

std::optional<DeviceInfo> readDeviceInfo(const QByteArray& document)
{
    const std::optional<QJsonObject> object = readObject(document);
    return object ? deviceInfo(*object) : std::nullopt;
}

std::optional<Acceptance> readAcceptance(const QByteArray& document)
{
    const std::optional<QJsonObject> object = readObject(document);
    if (!object)
        return std::nullopt;
    const auto session = field(*object, QStringLiteral("sessionId"));
    const QJsonObject files = object->value(QStringLiteral("files")).toObject();
    if (!session || files.size() > kMaxFilesPerSession)
        return std::nullopt;
    Acceptance acceptance{*session, {}};
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QString token = it.value().toString();
        if (token.isEmpty() || token.size() > kMaxFieldChars || it.key().size() > kMaxFieldChars)
            return std::nullopt;
        acceptance.tokens.insert(it.key(), token);
    }
    return acceptance;
}

std::optional<UploadOffer> readUploadOffer(const QByteArray& document)
{
    const std::optional<QJsonObject> object = readObject(document);
    if (!object)
        return std::nullopt;
    const auto sender = deviceInfo(object->value(QStringLiteral("info")).toObject());
    const QJsonObject files = object->value(QStringLiteral("files")).toObject();
    if (!sender || files.isEmpty() || files.size() > kMaxFilesPerSession)
        return std::nullopt;
    UploadOffer offer{*sender, {}};
    for (const QJsonValue& value : files) {
        const std::optional<OfferedFile> file = offeredFile(value);
        if (!file)
            return std::nullopt;
        offer.files.append(*file);
    }
    return offer;
}

QByteArray acceptanceDocument(const Acceptance& acceptance)
{
    QJsonObject tokens;
    for (auto it = acceptance.tokens.begin(); it != acceptance.tokens.end(); ++it)
        tokens.insert(it.key(), it.value());
    const QJsonObject document{{QStringLiteral("sessionId"), acceptance.sessionId},
                               {QStringLiteral("files"), tokens}};
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}
