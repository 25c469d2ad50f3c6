#include "platform/stopsignals.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace
{

// The write end, for the handler. Plain data: a handler may touch nothing else.
volatile std::sig_atomic_t writeEnd = -1;

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent)
{
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    writeEnd = pipe_[1];
    notifier_.emplace(pipe_[0], QSocketNotifier::Read);
    connect(&*notifier_, &QSocketNotifier::activated, this, &StopSignals::pipeReadable);

    struct sigaction action = {};
    action.sa_handler = &StopSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], nullptr, &former_[i]);
        if (former_[i].sa_handler != SIG_IGN)
            ::sigaction(kSignals[i], &action, nullptr);
    }
}

StopSignals::~StopSignals()
{
    if (pipe_[0] < 0)
        return;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &former_[i], nullptr);
    writeEnd = -1;
    notifier_.reset();
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void StopSignals::handle(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a request: losing this byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    errno = savedErrno;
}

void StopSignals::pipeReadable()
{
    char bytes[16];
    while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
    Q_EMIT stopRequested();
}
