#include "platform/tlscontext.h"

#include <QStringList>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#if defined(__aarch64__) && defined(__linux__)
#include <sys/auxv.h>
#endif

namespace
{

// Bytes OpenSSL takes from the socket at once: several records per system call.
constexpr long kReadAheadBytes = 64 * 1024;

template <typename T, void (*Free)(T*)> struct Freer {
    void operator()(T* object) const { Free(object); }
};
using Certificate = std::unique_ptr<X509, Freer<X509, X509_free>>;
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using Context = std::unique_ptr<SSL_CTX, Freer<SSL_CTX, SSL_CTX_free>>;

// Every peer's certificate is taken here; the address book judges its key afterwards.
int takeAnyCertificate(int, X509_STORE_CTX*)
{
    return 1;
}

Context makeContext(const QByteArray& der, const QByteArray& pem)
{
    auto bytes = reinterpret_cast<const unsigned char*>(der.constData());
    const Certificate certificate(d2i_X509(nullptr, &bytes, long(der.size())));
    const std::unique_ptr<BIO, Freer<BIO, BIO_free_all>> in(
        BIO_new_mem_buf(pem.constData(), int(pem.size())));
    const Key key(in ? PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr) : nullptr);
    Context context(SSL_CTX_new(TLS_method()));
    if (!certificate || !key || !context ||
        SSL_CTX_set_min_proto_version(context.get(), TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_ciphersuites(context.get(), tlsCipherSuites(aesInHardware()).constData()) !=
            1 ||
        SSL_CTX_use_certificate(context.get(), certificate.get()) != 1 ||
        SSL_CTX_use_PrivateKey(context.get(), key.get()) != 1 ||
        SSL_CTX_check_private_key(context.get()) != 1)
        return nullptr;
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, takeAnyCertificate);
    // Nobody resumes a session here: no tickets go out after the handshake.
    SSL_CTX_set_num_tickets(context.get(), 0);
    SSL_CTX_set_session_cache_mode(context.get(), SSL_SESS_CACHE_OFF);
    // A peer that closes without saying so has ended the connection all the same.
    SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_TICKET);
    // The receiver picks from what both offer, in its own order, unless the sender's first
    // choice is ChaCha20: a sender without AES instructions says so that way.
    SSL_CTX_set_options(context.get(), SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_PRIORITIZE_CHACHA);
    SSL_CTX_set_mode(context.get(), SSL_MODE_ENABLE_PARTIAL_WRITE |
                                        SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                                        SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_read_ahead(context.get(), 1);
    SSL_CTX_set_default_read_buffer_len(context.get(), kReadAheadBytes);
    return context;
}

} // namespace

bool aesInHardware()
{
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("aes") && __builtin_cpu_supports("pclmul");
#elif defined(__aarch64__) && defined(__linux__)
    const unsigned long features = getauxval(AT_HWCAP);
    return (features & HWCAP_AES) && (features & HWCAP_PMULL);
#else
    return false;
#endif
}

// Every suite of TLS 1.3 that protects a transfer well, the cheapest first. With AES
// instructions AES-GCM costs least, and a 128-bit key takes 10 rounds where 256 bits take
// 14; without them ChaCha20 is several times faster. Peers that order them otherwise find
// every one here all the same.
QByteArray tlsCipherSuites(bool aesInHardware)
{
    const QByteArray aes128 = "TLS_AES_128_GCM_SHA256";
    const QByteArray chacha = "TLS_CHACHA20_POLY1305_SHA256";
    const QByteArray aes256 = "TLS_AES_256_GCM_SHA384";
    return aesInHardware ? aes128 + ':' + chacha + ':' + aes256
                         : chacha + ':' + aes128 + ':' + aes256;
}

std::shared_ptr<const TlsContext> TlsContext::make(const QByteArray& certificate,
                                                   const QByteArray& key, QString* error)
{
    ERR_clear_error();
    Context made = makeContext(certificate, key);
    if (!made) {
        const QString why = tlsErrors();
        if (error)
            *error = why.isEmpty() ? QStringLiteral("the key cannot be read") : why;
        return nullptr;
    }
    return std::shared_ptr<const TlsContext>(new TlsContext(made.release()));
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(context_);
}

QString tlsErrors()
{
    QStringList errors;
    while (const unsigned long code = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        errors << QString::fromLatin1(text);
    }
    return errors.join(QLatin1String(", "));
}
