#include "settings/SecretStore.h"

#include "base/Background.h"
#include "base/Folders.h"
#include "base/SystemReason.h"
#include "settings/PrivateFile.h"

#include <QFile>
#include <QStandardPaths>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kKeyFileName = QStringLiteral("openai.key");

QString dataRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

constexpr mode_t kOthersBits = S_IRWXG | S_IRWXO;
constexpr mode_t kOthersRead = S_IRGRP | S_IROTH;

QString notSaved(const QString& path, const QString& why) {
    return QStringLiteral("Your API key could not be saved to %1 (%2); it will be gone when "
                          "Corvinel starts again.")
        .arg(path, why);
}

// The notice for the key file at `path`, after making it and its folder private.
std::optional<QString> tightenKeyFile(const QString& path, const QString& folder) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat file {};
    const bool regular = ::fstat(fd, &file) == 0 && S_ISREG(file.st_mode);
    const bool fileTightened = regular && (file.st_mode & kOthersBits) && ::fchmod(fd, 0600) == 0;
    ::close(fd);
    if (!regular)
        return std::nullopt;
    const QByteArray folderName = QFile::encodeName(folder);
    struct stat dir {};
    const bool folderTightened = ::stat(folderName.constData(), &dir) == 0 &&
                                 (dir.st_mode & kOthersBits) &&
                                 ::chmod(folderName.constData(), 0700) == 0;
    if (fileTightened && (file.st_mode & kOthersRead))
        return QStringLiteral("Your API key file was readable by other users of this computer; "
                              "it is now private (%1).")
            .arg(path);
    if (folderTightened)
        return QStringLiteral("The folder of your API key was open to other users of this "
                              "computer; it is now private (%1).")
            .arg(folder);
    return std::nullopt;
}

// Others can read the file only through a folder they may pass.
std::optional<QString> exposedLegacyCopy(const QString& path, const QString& folder) {
    struct stat file {};
    struct stat dir {};
    if (::lstat(QFile::encodeName(path).constData(), &file) != 0 || !S_ISREG(file.st_mode) ||
        !(file.st_mode & kOthersRead))
        return std::nullopt;
    if (::stat(QFile::encodeName(folder).constData(), &dir) != 0 ||
        !(dir.st_mode & (S_IXGRP | S_IXOTH)))
        return std::nullopt;
    return QStringLiteral("An older copy of your API key at %1 is readable by other users of "
                          "this computer; delete it or make it private.")
        .arg(path);
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

std::optional<QString> save(const QString& key) {
    const QString path = keyFilePath();
    const QString trimmed = key.trimmed();
    if (trimmed.isEmpty()) {
        if (::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT)
            return std::nullopt;
        return QStringLiteral("Your API key could not be removed from %1 (%2); it will be "
                              "back when Corvinel starts again.")
            .arg(path, systemReason(errno));
    }
    if (const QString why = makeFolder(directory(), FolderAccess::ownerOnly); !why.isEmpty())
        return notSaved(path, why);
    if (!PrivateFile::writeAtomically(path, trimmed.toUtf8()))
        return notSaved(path, systemReason(errno));
    return std::nullopt;
}

QStringList securePermissions() {
    QStringList notices;
    if (const auto notice = tightenKeyFile(keyFilePath(), directory()))
        notices << *notice;
    if (const auto notice =
            exposedLegacyCopy(legacyDirectory() + u'/' + kKeyFileName, legacyDirectory()))
        notices << *notice;
    return notices;
}

void migrateIfNeeded(const QString& fileName) {
    const QString target = directory() + u'/' + fileName;
    if (QFile::exists(target))
        return;
    const std::optional<QByteArray> bytes =
        PrivateFile::readRegularFile(legacyDirectory() + u'/' + fileName);
    if (!bytes)
        return;
    makeFolder(directory(), FolderAccess::ownerOnly);
    PrivateFile::writeAtomically(target, *bytes);
}

void migrateFromKeychain(QObject* context, std::function<void(const QString&)> completion,
                         KeychainLookup lookup) {
    migrateIfNeeded(kKeyFileName);
    if (!readKey().isEmpty())
        return;
    runInBackground(
        context,
        [lookup = std::move(lookup)] {
            std::optional<QString> found = lookup(QStringLiteral("openai-api-key"));
            if (found && found->isEmpty())
                found.reset();
            // A failure here is told when the completion saves the key again.
            if (found)
                (void)save(*found);
            return found;
        },
        [completion = std::move(completion)](const std::optional<QString>& found) {
            if (found && completion)
                completion(*found);
        });
}

} // namespace SecretStore
