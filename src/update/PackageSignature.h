#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Checks a downloaded package against the Ed25519 signature the feed gives for it (base64 of the
// 64-byte signature over the whole file) and the key built into the app (base64 of the 32-byte
// raw public key). Returns nullopt when the file is what the key's owner signed, else the words
// that say why it is refused.
std::optional<QString> checkPackageSignature(const QByteArray& file,
                                             const QByteArray& signatureBase64,
                                             const QByteArray& publicKeyBase64);
