#include "platform/servicemanager.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

void tellServiceManager(const QByteArray& state)
{
    const QByteArray path = qgetenv("NOTIFY_SOCKET");
    sockaddr_un address{};
    if (path.isEmpty() || size_t(path.size()) >= sizeof(address.sun_path))
        return;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    // A name starting with '@' is in the abstract namespace.
    if (address.sun_path[0] == '@')
        address.sun_path[0] = '\0';
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()));
    ::sendto(fd, state.constData(), size_t(state.size()), MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&address), length);
    ::close(fd);
}
