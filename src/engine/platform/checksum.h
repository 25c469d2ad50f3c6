#pragma once

#include "platform/sha256.h"

#include <QByteArray>

#include <memory>

struct XXH3_state_s;

// A running check of the bytes given to it, of one of two kinds: SHA-256, or XXH3-128,
// which catches the same accidents (a bad disk or memory, a bug) at a small part of the
// cost, where something else already proves who sent the bytes.
class Checksum
{
public:
    enum class Kind { Sha256, Xxh3_128 };

    explicit Checksum(Kind kind = Kind::Sha256);
    ~Checksum();
    Checksum(const Checksum&) = delete;
    Checksum& operator=(const Checksum&) = delete;

    // How long a result of kind is: 32 bytes for SHA-256, 16 for XXH3-128.
    static int bytes(Kind kind);

    void add(const char* bytes, qint64 length);
    void add(const QByteArray& bytes) { add(bytes.constData(), bytes.size()); }
    // The check of everything added since the start or the last reset; XXH3-128 in its
    // canonical form, the most significant byte first.
    QByteArray result() const;
    // Starts anew, of kind.
    void reset(Kind kind);
    void reset() { reset(kind_); }

    static QByteArray of(Kind kind, const QByteArray& bytes);

private:
    struct Free {
        void operator()(XXH3_state_s* state) const;
    };
    Kind kind_;
    Sha256 sha_;
    std::unique_ptr<XXH3_state_s, Free> xxh3_; // made when first needed
};
