#pragma once

#include <csignal>
#include <sys/resource.h>

// While it lives, this process writes no file beyond bytes, as on a disk that is full
// beyond that: a write that would go further fails with EFBIG instead of a signal.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &original_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{bytes, original_.rlim_max};
        applied_ = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &original_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool applied() const { return applied_; }

private:
    rlimit original_{};
    void (*oldHandler_)(int) = nullptr;
    bool applied_ = false;
};
