// Feeds arbitrary bytes to the reader of LocalSend's multicast announcements, as anyone on
// the network may send them: nothing over the cap is taken, and what is taken stays within
// the field caps.
#include "localsend/announcement.h"

#include <cstdint>
#include <cstdlib>

namespace
{

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray datagram(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<Announcement> announcement = readAnnouncement(datagram);
    if (!announcement)
        return 0;
    check(datagram.size() <= kMaxAnnouncementBytes);
    const DeviceInfo& device = announcement->device;
    check(device.alias.size() <= kMaxFieldChars);
    check(device.deviceType.size() <= kMaxFieldChars);
    check(device.fingerprint.size() <= kMaxFieldChars);
    return 0;
}
