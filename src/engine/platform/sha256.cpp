#include "platform/sha256.h"

#include <openssl/evp.h>

void Sha256::Free::operator()(evp_md_ctx_st* context) const
{
    EVP_MD_CTX_free(context);
}

Sha256::Sha256() : context_(EVP_MD_CTX_new())
{
    reset();
}

Sha256::~Sha256() = default;

void Sha256::reset()
{
    EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr);
}

void Sha256::add(const char* bytes, qint64 length)
{
    EVP_DigestUpdate(context_.get(), bytes, size_t(length));
}

QByteArray Sha256::result() const
{
    // Finishing a copy leaves this one able to go on.
    std::unique_ptr<EVP_MD_CTX, Free> copy(EVP_MD_CTX_new());
    EVP_MD_CTX_copy_ex(copy.get(), context_.get());
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    EVP_DigestFinal_ex(copy.get(), reinterpret_cast<unsigned char*>(digest.data()), &length);
    digest.truncate(int(length));
    return digest;
}

QByteArray Sha256::of(const QByteArray& bytes)
{
    Sha256 digest;
    digest.add(bytes);
    return digest.result();
}
