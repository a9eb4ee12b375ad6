#include "common/sha256.h"

#include <openssl/evp.h>

namespace kelvora {

struct Sha256::Context {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256()
    : m_context(std::make_unique<Context>())
{
    if (m_context->md)
        EVP_DigestInit_ex(m_context->md, EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::addData(QByteArrayView bytes)
{
    if (m_context->md)
        EVP_DigestUpdate(m_context->md, bytes.data(), std::size_t(bytes.size()));
}

QByteArray Sha256::result()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_context->md || EVP_DigestFinal_ex(m_context->md, digest, &length) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char*>(digest), int(length));
}

QByteArray sha256(QByteArrayView bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), std::size_t(bytes.size()), digest, &length, EVP_sha256(), nullptr) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char*>(digest), int(length));
}

} // namespace kelvora
