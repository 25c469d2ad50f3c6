#include "platform/socketbio.h"

#include <openssl/bio.h>

#include <cerrno>
#include <cstdint>
#include <sys/socket.h>

namespace
{

int descriptorOf(BIO* bio)
{
    return int(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

bool wouldBlock(int number)
{
    return number == EAGAIN || number == EWOULDBLOCK || number == EINTR;
}

int writeTo(BIO* bio, const char* data, int length)
{
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::send(descriptorOf(bio), data, size_t(length), MSG_NOSIGNAL);
    if (n < 0 && wouldBlock(errno))
        BIO_set_retry_write(bio);
    return int(n);
}

int readFrom(BIO* bio, char* data, int length)
{
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::recv(descriptorOf(bio), data, size_t(length), 0);
    if (n == 0)
        BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
    else if (n < 0 && wouldBlock(errno))
        BIO_set_retry_read(bio);
    return int(n);
}

long control(BIO* bio, int command, long, void*)
{
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1; // nothing is held here
    case BIO_CTRL_EOF:
        return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0;
    default:
        return 0;
    }
}

int create(BIO* bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* socketMethod()
{
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                         "non-signalling socket");
        BIO_meth_set_write(made, writeTo);
        BIO_meth_set_read(made, readFrom);
        BIO_meth_set_ctrl(made, control);
        BIO_meth_set_create(made, create);
        return made;
    }();
    return method;
}

} // namespace

BIO* newSocketBio(int descriptor)
{
    BIO* bio = BIO_new(socketMethod());
    if (bio)
        BIO_set_data(bio, reinterpret_cast<void*>(std::intptr_t(descriptor)));
    return bio;
}
