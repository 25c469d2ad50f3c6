#pragma once

#include "localsend/messages.h"

#include <QByteArray>

#include <optional>

// A LocalSend device's multicast datagram: its announcement, which asks every device that
// hears it to register with it, or the answer of one that could not register over HTTP.

// A longer datagram is no announcement: a device's one is a few hundred bytes.
constexpr qsizetype kMaxAnnouncementBytes = 4096;

struct Announcement {
    DeviceInfo device; // its port is 0 when it named none
    bool asksForAnswer = false;
    bool https = false; // its server speaks HTTPS, the only way this side talks to devices
};

// Nothing for a datagram over the cap, not JSON, or without the device's alias.
std::optional<Announcement> readAnnouncement(const QByteArray& datagram);
