#include "settings/SecretStore.h"

#include "settings/PrivateFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QThreadPool>

namespace {
const QString kKeyFileName = QStringLiteral("openai.key");

QString dataRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

std::optional<QString> decodeUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}
} // namespace

namespace SecretStore {

QString directory() {
    return dataRoot() + QStringLiteral("/Corvinel");
}

QString legacyDirectory() {
    return dataRoot() + QStringLiteral("/Ostravelle");
}

QString keyFilePath() {
    return directory() + u'/' + kKeyFileName;
}

QString readKey() {
    const std::optional<QByteArray> bytes = PrivateFile::readRegularFile(keyFilePath());
    const auto text = bytes ? decodeUtf8(*bytes) : std::nullopt;
    return text ? text->trimmed() : QString();
}

void save(const QString& key) {
    const QString trimmed = key.trimmed();
    if (trimmed.isEmpty()) {
        QFile::remove(keyFilePath());
        return;
    }
    PrivateFile::makePrivateDirectory(directory());
    PrivateFile::writeAtomically(keyFilePath(), trimmed.toUtf8());
}

void migrateIfNeeded(const QString& fileName) {
    const QString target = directory() + u'/' + fileName;
    if (QFile::exists(target))
        return;
    const std::optional<QByteArray> bytes =
        PrivateFile::readRegularFile(legacyDirectory() + u'/' + fileName);
    if (!bytes)
        return;
    PrivateFile::makePrivateDirectory(directory());
    PrivateFile::writeAtomically(target, *bytes);
}

void migrateFromKeychain(QObject* context, std::function<void(const QString&)> completion,
                         KeychainLookup lookup) {
    migrateIfNeeded(kKeyFileName);
    if (!readKey().isEmpty())
        return;
    QPointer<QObject> guard(context);
    QThreadPool::globalInstance()->start(
        [guard, completion = std::move(completion), lookup = std::move(lookup)] {
            const std::optional<QString> found = lookup(QStringLiteral("openai-api-key"));
            if (!found || found->isEmpty())
                return;
            save(*found);
            if (!completion)
                return;
            // The guard is only read on its own thread, inside the queued call.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, completion, key = *found] {
                    if (guard)
                        completion(key);
                },
                Qt::QueuedConnection);
        });
}

} // namespace SecretStore
