#include "base/signature.h"

#include <openssl/evp.h>

#include <memory>

TStatus VerifyEd25519(const QByteArray& publicKey, const QByteArray& message, const QByteArray& signature) {
    if (publicKey.size() != Ed25519PublicKeyBytes)
        return MakeError(TErrc::Refused, QStringLiteral("公钥的长度不对"));
    if (signature.size() != Ed25519SignatureBytes)
        return MakeError(TErrc::Refused, QStringLiteral("签名的长度不对"));
    const std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(publicKey.constData()),
                                    size_t(publicKey.size())),
        EVP_PKEY_free);
    if (!key)
        return MakeError(TErrc::Refused, QStringLiteral("公钥无法读取"));
    const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return MakeError(TErrc::Refused, QStringLiteral("签名无法验证"));
    // Ed25519 reads the whole message at once.
    const int verified =
        EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.constData()),
                         size_t(signature.size()),
                         reinterpret_cast<const unsigned char*>(message.constData()), size_t(message.size()));
    if (verified != 1)
        return MakeError(TErrc::Refused, QStringLiteral("签名不符"));
    return {};
}
