#pragma once

#include <QByteArray>

#include <memory>

struct evp_md_ctx_st;

// A running SHA-256 of the bytes given to it. It uses the system's cryptographic library
// rather than Qt's own digest, which is about ten times slower: a file's digest is taken
// as fast as the network brings it.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const char* bytes, qint64 length);
    void add(const QByteArray& bytes) { add(bytes.constData(), bytes.size()); }
    // The digest of everything added since the start or the last reset (32 bytes).
    QByteArray result() const;
    void reset();

    static QByteArray of(const QByteArray& bytes);

private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> context_;
};
