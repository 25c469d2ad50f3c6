#pragma once

#include <QString>

#include <functional>
#include <optional>

// A file of a batch that a sender takes before its turn, so that it is offered while the one
// before is still being answered. Once taken it is sent in its turn, whatever becomes of the
// queue meanwhile.
struct NextFile {
    QString path;
    QString announced; // its path inside a queued folder; empty for a loose file
    qint64 size = 0;   // as measured when it was taken
};

// The batch's next file, taken; nothing when the next one cannot go ahead of its turn.
using NextFileSource = std::function<std::optional<NextFile>()>;
