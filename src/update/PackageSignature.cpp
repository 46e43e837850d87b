#include "update/PackageSignature.h"

#include <openssl/evp.h>

#include <memory>

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::optional<QByteArray> decode(const QByteArray& base64, qsizetype size) {
    const auto result =
        QByteArray::fromBase64Encoding(base64.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.size() != size)
        return std::nullopt;
    return result.decoded;
}

} // namespace

std::optional<QString> checkPackageSignature(const QByteArray& file,
                                             const QByteArray& signatureBase64,
                                             const QByteArray& publicKeyBase64) {
    if (signatureBase64.trimmed().isEmpty())
        return QStringLiteral("The update is not signed, so there is no telling who made it.");
    const std::optional<QByteArray> key = decode(publicKeyBase64, 32);
    if (!key)
        return QStringLiteral("This build of Corvinel has no usable key to check updates with.");
    const std::optional<QByteArray> signature = decode(signatureBase64, 64);
    if (!signature)
        return QStringLiteral("The update's signature is malformed.");

    const std::unique_ptr<EVP_PKEY, KeyFree> publicKey(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(key->constData()),
        size_t(key->size())));
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!publicKey || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1)
        return QStringLiteral("The update's signature could not be checked.");
    const int verdict = EVP_DigestVerify(
        context.get(), reinterpret_cast<const unsigned char*>(signature->constData()),
        size_t(signature->size()), reinterpret_cast<const unsigned char*>(file.constData()),
        size_t(file.size()));
    if (verdict != 1)
        return QStringLiteral("The update's signature does not match: the file is not the one "
                              "Corvinel's makers signed.");
    return std::nullopt;
}
