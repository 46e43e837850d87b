#include "settings/SecretStore.h"
#include "settings/AppSettings.h"
#include "settings/PrivateFile.h"
#include "support/TestFiles.h"
#include "support/TestHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

unsigned modeOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 0777;
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes, unsigned mode = 0644) {
    writeBytes(path, bytes);
    ::chmod(QFile::encodeName(path).constData(), mode);
}

class UmaskGuard {
public:
    explicit UmaskGuard(mode_t mask) : m_old(::umask(mask)) {}
    ~UmaskGuard() { ::umask(m_old); }

private:
    mode_t m_old;
};

void drainBackgroundWork() {
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

TEST(SecretStoreTest, SaveTrimsAndReadsBack) {
    TestHome home;
    ASSERT_FALSE(SecretStore::save(QStringLiteral("\t  sk-abc def \n\n")));
    EXPECT_EQ(contentOf(SecretStore::keyFilePath()), QByteArray("sk-abc def"));
    EXPECT_EQ(SecretStore::readKey(), QStringLiteral("sk-abc def"));
    EXPECT_EQ(SecretStore::keyFilePath(), home.dataHome() + QStringLiteral("/Corvinel/openai.key"));
}

TEST(SecretStoreTest, EmptyOrBlankKeyDeletesTheFile) {
    for (const QString& blank : {QString(), QStringLiteral("   \n")}) {
        TestHome home;
        ASSERT_FALSE(SecretStore::save(QStringLiteral("sk-1")));
        ASSERT_TRUE(QFile::exists(SecretStore::keyFilePath()));
        ASSERT_FALSE(SecretStore::save(blank));
        EXPECT_FALSE(QFile::exists(SecretStore::keyFilePath()));
        EXPECT_EQ(SecretStore::readKey(), QString());
    }
}

TEST(SecretStoreTest, FolderAndFileArePrivateAfterEverySaveEvenOverAWiderFile) {
    TestHome home;
    UmaskGuard permissive(0);
    ASSERT_FALSE(SecretStore::save(QStringLiteral("sk-1")));
    EXPECT_EQ(modeOf(SecretStore::directory()), 0700u) << "a new folder";
    writeFile(SecretStore::keyFilePath(), "old", 0644);
    ASSERT_FALSE(SecretStore::save(QStringLiteral("sk-new")));
    EXPECT_EQ(modeOf(SecretStore::keyFilePath()), 0600u);
    EXPECT_EQ(contentOf(SecretStore::keyFilePath()), QByteArray("sk-new"));
    ASSERT_FALSE(SecretStore::save(QStringLiteral("sk-newer")));
    EXPECT_EQ(modeOf(SecretStore::keyFilePath()), 0600u);
    // No temporary file is left beside the key.
    EXPECT_EQ(QDir(SecretStore::directory()).entryList(QDir::Files),
              QStringList{QStringLiteral("openai.key")});
}

TEST(SecretStoreTest, TemporaryFileIsPrivateBeforeAnyByteIsWritten) {
    TestHome home;
    UmaskGuard permissive(0); // the worst case: a file created with default modes is 0666
    QDir().mkpath(home.path() + QStringLiteral("/tmp"));
    QByteArray temp;
    const int fd =
        PrivateFile::createPrivateTemporary(home.path() + QStringLiteral("/tmp/k"), temp);
    ASSERT_GE(fd, 0);
    struct stat info {};
    ASSERT_EQ(::fstat(fd, &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_size, 0);
    ::close(fd);
    ::unlink(temp.constData());
}

TEST(SecretStoreTest, UnreadableOrNonUtf8KeyCountsAsNone) {
    TestHome home;
    writeFile(SecretStore::keyFilePath(), "sk-\xc3\x28", 0600);
    EXPECT_EQ(SecretStore::readKey(), QString());
    writeFile(SecretStore::keyFilePath(), " \n ", 0600);
    EXPECT_EQ(SecretStore::readKey(), QString());
}

TEST(SecretStoreTest, LegacyCopyNeverOverwritesAndKeepsTheOriginal) {
    TestHome home;
    SecretStore::migrateIfNeeded(QStringLiteral("openai.key")); // no legacy file: nothing
    EXPECT_FALSE(QFile::exists(SecretStore::keyFilePath()));
    const QString legacy = SecretStore::legacyDirectory() + QStringLiteral("/openai.key");
    writeFile(legacy, "sk-legacy", 0644);

    SecretStore::migrateIfNeeded(QStringLiteral("openai.key"));
    EXPECT_EQ(contentOf(SecretStore::keyFilePath()), QByteArray("sk-legacy"));
    EXPECT_EQ(modeOf(SecretStore::keyFilePath()), 0600u);
    EXPECT_TRUE(QFile::exists(legacy));

    ASSERT_FALSE(SecretStore::save(QStringLiteral("sk-current")));
    writeFile(legacy, "sk-legacy-changed", 0644);
    SecretStore::migrateIfNeeded(QStringLiteral("openai.key"));
    EXPECT_EQ(contentOf(SecretStore::keyFilePath()), QByteArray("sk-current"));
}

TEST(SecretStoreTest, KeychainIsNotConsultedWhenAKeyFileExists) {
    TestHome home;
    ASSERT_FALSE(SecretStore::save(QStringLiteral("sk-file")));
    std::atomic<int> lookups{0};
    bool completed = false;
    QObject context;
    SecretStore::migrateFromKeychain(
        &context, [&](const QString&) { completed = true; },
        [&](const QString&) {
            ++lookups;
            return std::optional<QString>(QStringLiteral("sk-keychain"));
        });
    drainBackgroundWork();
    EXPECT_EQ(lookups.load(), 0);
    EXPECT_FALSE(completed);
}

TEST(SecretStoreTest, KeychainKeyIsSavedTrimmedAndReportedAsFoundOnTheMainThread) {
    TestHome home;
    QObject context;
    QString reported;
    QThread* reportedOn = nullptr;
    QString askedFor;
    SecretStore::migrateFromKeychain(
        &context,
        [&](const QString& key) {
            reported = key;
            reportedOn = QThread::currentThread();
        },
        [&](const QString& account) {
            askedFor = account;
            return std::optional<QString>(QStringLiteral(" sk-kc\n"));
        });
    drainBackgroundWork();
    EXPECT_EQ(askedFor, QStringLiteral("openai-api-key"));
    EXPECT_EQ(reported, QStringLiteral(" sk-kc\n"));
    EXPECT_EQ(reportedOn, QCoreApplication::instance()->thread());
    EXPECT_EQ(contentOf(SecretStore::keyFilePath()), QByteArray("sk-kc"));
}

TEST(SecretStoreTest, EmptyKeychainItemOrGoneContextReportsNothing) {
    TestHome home;
    bool completed = false;
    {
        QObject context;
        SecretStore::migrateFromKeychain(
            &context, [&](const QString&) { completed = true; },
            [](const QString&) { return std::optional<QString>(QString()); });
        drainBackgroundWork();
    }
    EXPECT_FALSE(completed);
    EXPECT_FALSE(QFile::exists(SecretStore::keyFilePath()));

    auto* context = new QObject;
    SecretStore::migrateFromKeychain(
        context, [&](const QString&) { completed = true; },
        [](const QString&) { return std::optional<QString>(QStringLiteral("sk-late")); });
    QThreadPool::globalInstance()->waitForDone();
    delete context; // gone before the main thread gets to the result
    QCoreApplication::processEvents();
    EXPECT_FALSE(completed);
    EXPECT_EQ(SecretStore::readKey(), QStringLiteral("sk-late"));
}

// A FIFO put where a file belongs must not hold the program in open() at start, before any
// window or signal handler exists.
TEST(SecretStoreTest, FifoInPlaceOfAKeyFileReadsAsNoKeyAtOnce) {
    const struct {
        const char* what;
        QString (*fifoPath)();
    } rows[] = {
        {"key file", &SecretStore::keyFilePath},
        {"legacy key file",
         [] { return SecretStore::legacyDirectory() + QStringLiteral("/openai.key"); }},
    };
    for (const auto& row : rows) {
        TestHome home;
        const QByteArray fifo = QFile::encodeName(row.fifoPath());
        QDir().mkpath(QFileInfo(row.fifoPath()).path());
        ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0) << row.what;
        const QString config = home.configHome() + QStringLiteral("/Corvinel/Corvinel.conf");
        auto launch = std::async(std::launch::async, [config] {
            AppSettings settings(config);
            return settings.apiKey();
        });
        using namespace std::chrono_literals;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        bool blocked = false;
        while (launch.wait_for(50ms) == std::future_status::timeout) {
            if (std::chrono::steady_clock::now() < deadline)
                continue;
            // Let a stuck open() go: a writer arriving and leaving ends it with no data.
            blocked = true;
            ::close(::open(fifo.constData(), O_WRONLY | O_NONBLOCK));
        }
        EXPECT_FALSE(blocked) << row.what << ": reading the key blocked on a FIFO";
        EXPECT_EQ(launch.get(), QString()) << row.what;
    }
}

void makeFolder(const QString& path, unsigned mode) {
    QDir().mkpath(path);
    ::chmod(QFile::encodeName(path).constData(), mode);
}

// Modes are set by hand, as a user or an older version may have left them; 0 means absent.
TEST(SecretStoreTest, KeyFileOthersCouldReadIsMadePrivateAndToldOnce) {
    enum Told { key = 1, folder = 2, legacy = 4 };
    const struct {
        const char* what;
        unsigned keyMode, folderMode, legacyMode, legacyFolderMode;
        int told;
    } rows[] = {
        {"all private", 0600, 0700, 0, 0, 0},
        {"key readable by all", 0644, 0700, 0, 0, key},
        {"key readable by its group, open folder", 0640, 0755, 0, 0, key},
        {"open folder only", 0600, 0755, 0, 0, folder},
        {"key others may write but not read: fixed quietly", 0620, 0700, 0, 0, 0},
        {"no key: the folder is left alone", 0, 0755, 0, 0, 0},
        {"readable legacy copy, already migrated", 0600, 0700, 0644, 0755, legacy},
        {"readable legacy copy migrated now", 0, 0, 0644, 0755, legacy},
        {"readable legacy copy others cannot reach", 0600, 0700, 0644, 0700, 0},
        {"private legacy copy", 0600, 0700, 0600, 0755, 0},
    };
    for (const auto& row : rows) {
        TestHome home;
        UmaskGuard permissive(0);
        const QString legacyFile = SecretStore::legacyDirectory() + QStringLiteral("/openai.key");
        if (row.folderMode)
            makeFolder(SecretStore::directory(), row.folderMode);
        if (row.keyMode)
            writeFile(SecretStore::keyFilePath(), "sk-current", row.keyMode);
        if (row.legacyMode) {
            makeFolder(SecretStore::legacyDirectory(), row.legacyFolderMode);
            writeFile(legacyFile, "sk-legacy", row.legacyMode);
        }
        const QString config = home.configHome() + QStringLiteral("/Corvinel/Corvinel.conf");
        const QStringList notices = AppSettings(config).keyFileNotices();

        QStringList expected;
        if (row.told & key)
            expected << QStringLiteral("Your API key file was readable by other users of this "
                                       "computer; it is now private (%1).")
                            .arg(SecretStore::keyFilePath());
        if (row.told & folder)
            expected << QStringLiteral("The folder of your API key was open to other users of "
                                       "this computer; it is now private (%1).")
                            .arg(SecretStore::directory());
        if (row.told & legacy)
            expected << QStringLiteral("An older copy of your API key at %1 is readable by other "
                                       "users of this computer; delete it or make it private.")
                            .arg(legacyFile);
        EXPECT_EQ(notices.join(u'\n').toStdString(), expected.join(u'\n').toStdString())
            << row.what;
        if (row.keyMode || row.legacyMode) {
            EXPECT_EQ(modeOf(SecretStore::keyFilePath()), 0600u) << row.what;
            EXPECT_FALSE(SecretStore::readKey().isEmpty()) << row.what;
        }
        if (row.keyMode) {
            EXPECT_EQ(modeOf(SecretStore::directory()), 0700u) << row.what;
        }
        if (row.legacyMode) {
            EXPECT_EQ(modeOf(legacyFile), row.legacyMode) << row.what; // not ours to change
        }
        // Fixed once, told once; the legacy copy is told until the user sees to it.
        EXPECT_EQ(AppSettings(config).keyFileNotices(),
                  row.told & legacy ? expected.mid(expected.size() - 1) : QStringList())
            << row.what;
    }
}

// Something in the way of the file fails the save for any user, root included, as a read-only
// folder or a full disk would.
TEST(SecretStoreTest, KeyThatCannotBeKeptSaysSoUntilOneIs) {
    TestHome home;
    AppSettings settings(home.configHome() + QStringLiteral("/Corvinel/Corvinel.conf"));
    QSignalSpy changed(&settings, &AppSettings::apiKeySaveErrorChanged);
    ASSERT_TRUE(QDir().mkpath(SecretStore::keyFilePath()));

    settings.setApiKey(QStringLiteral("sk-1"));
    EXPECT_EQ(settings.apiKey(), QStringLiteral("sk-1")); // still used by this session
    EXPECT_TRUE(settings.apiKeySaveError().startsWith(
        QStringLiteral("Your API key could not be saved to ") + SecretStore::keyFilePath()))
        << settings.apiKeySaveError().toStdString();
    EXPECT_TRUE(settings.apiKeySaveError().endsWith(
        QStringLiteral("it will be gone when Corvinel starts again.")));
    EXPECT_EQ(changed.size(), 1);

    settings.setApiKey(QString());
    EXPECT_TRUE(settings.apiKeySaveError().startsWith(
        QStringLiteral("Your API key could not be removed from ") + SecretStore::keyFilePath()));

    ASSERT_TRUE(QDir(SecretStore::keyFilePath()).removeRecursively());
    settings.setApiKey(QStringLiteral("sk-2"));
    EXPECT_EQ(settings.apiKeySaveError(), QString());
    EXPECT_EQ(changed.size(), 3);
    EXPECT_EQ(SecretStore::readKey(), QStringLiteral("sk-2"));
}

TEST(SecretStoreTest, KeychainWithoutASessionBusFindsNothing) {
    TestHome home;
    EXPECT_FALSE(Keychain::get(QStringLiteral("openai-api-key")).has_value());
}

} // namespace
