#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

typedef struct ssl_ctx_st SSL_CTX;

// The settings both ends of the private port share, with this side's certificate and key:
// TLS 1.3 only, each side showing its certificate and asking for the other's, which the
// address book judges, not any authority. One serves every connection.
class TlsContext
{
public:
    // Nothing when the certificate (DER) or the key (PEM) cannot be taken; error says why.
    static std::shared_ptr<const TlsContext> make(const QByteArray& certificate,
                                                  const QByteArray& key, QString* error = nullptr);
    ~TlsContext();

    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* handle() const { return context_; }

private:
    explicit TlsContext(SSL_CTX* context) : context_(context) {}

    SSL_CTX* context_;
};

// Whether this processor has instructions for AES and for GCM's multiplication.
bool aesInHardware();
// The suites offered, the first preferred, for a processor with AES instructions or not.
QByteArray tlsCipherSuites(bool aesInHardware);

// What OpenSSL says went wrong on this thread, oldest first; its queue is emptied.
QString tlsErrors();
