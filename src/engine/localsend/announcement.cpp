#include "localsend/announcement.h"

#include <QJsonDocument>
#include <QJsonObject>

std::optional<Announcement> readAnnouncement(const QByteArray& datagram)
{
    if (datagram.size() > kMaxAnnouncementBytes)
        return std::nullopt;
    const std::optional<DeviceInfo> device = readDeviceInfo(datagram);
    if (!device)
        return std::nullopt;
    const QJsonObject object = QJsonDocument::fromJson(datagram).object();
    // The first version of the protocol called it "announcement".
    const bool asks = object.value(QStringLiteral("announce")).toBool() ||
                      object.value(QStringLiteral("announcement")).toBool();
    const bool https =
        object.value(QStringLiteral("protocol")).toString() == QLatin1String("https");
    return Announcement{*device, asks, https};
}
