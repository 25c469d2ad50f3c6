#include "platform/checksum.h"

#if defined(__x86_64__)
// The library then picks the widest vector instructions the processor has (SSE2, AVX2,
// AVX-512) at run time, several times faster than the SSE2 it is built for.
#include <xxh_x86dispatch.h>
#else
#include <xxhash.h>
#endif

void Checksum::Free::operator()(XXH3_state_s* state) const
{
    XXH3_freeState(state);
}

Checksum::Checksum(Kind kind) : kind_(kind)
{
    reset(kind);
}

Checksum::~Checksum() = default;

int Checksum::bytes(Kind kind)
{
    return kind == Kind::Xxh3_128 ? int(sizeof(XXH128_canonical_t)) : 32;
}

void Checksum::reset(Kind kind)
{
    kind_ = kind;
    if (kind_ == Kind::Sha256) {
        sha_.reset();
        return;
    }
    if (!xxh3_) {
        xxh3_.reset(XXH3_createState());
        Q_CHECK_PTR(xxh3_.get());
    }
    XXH3_128bits_reset(xxh3_.get());
}

void Checksum::add(const char* bytes, qint64 length)
{
    if (kind_ == Kind::Sha256)
        sha_.add(bytes, length);
    else
        XXH3_128bits_update(xxh3_.get(), bytes, size_t(length));
}

QByteArray Checksum::result() const
{
    if (kind_ == Kind::Sha256)
        return sha_.result();
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(xxh3_.get()));
    return QByteArray(reinterpret_cast<const char*>(canonical.digest), sizeof(canonical.digest));
}

QByteArray Checksum::of(Kind kind, const QByteArray& bytes)
{
    Checksum check(kind);
    check.add(bytes);
    return check.result();
}
