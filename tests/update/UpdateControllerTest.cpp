#include "update/UpdateController.h"
#include "support/LocalHttpsServer.h"
#include "support/UpdateFakes.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <openssl/evp.h>

namespace {

using State = UpdateController::State;

// A throwaway Ed25519 key pair, made once for the whole run: no private key is kept anywhere.
class SigningKey {
public:
    SigningKey() {
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
        EVP_PKEY_keygen_init(context);
        EVP_PKEY_keygen(context, &m_key);
        EVP_PKEY_CTX_free(context);
    }
    ~SigningKey() { EVP_PKEY_free(m_key); }

    QByteArray publicKeyBase64() const {
        unsigned char raw[32];
        size_t size = sizeof raw;
        EVP_PKEY_get_raw_public_key(m_key, raw, &size);
        return QByteArray(reinterpret_cast<const char*>(raw), qsizetype(size)).toBase64();
    }

    QByteArray signBase64(const QByteArray& data) const {
        unsigned char signature[64];
        size_t size = sizeof signature;
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        EVP_DigestSignInit(context, nullptr, nullptr, nullptr, m_key);
        EVP_DigestSign(context, signature, &size,
                       reinterpret_cast<const unsigned char*>(data.constData()),
                       size_t(data.size()));
        EVP_MD_CTX_free(context);
        return QByteArray(reinterpret_cast<const char*>(signature), qsizetype(size)).toBase64();
    }

private:
    EVP_PKEY* m_key = nullptr;
};

const SigningKey& signingKey() {
    static const SigningKey key;
    return key;
}

struct FeedItem {
    QString version;
    QString os = {};          // on the item; empty for none
    QString enclosureOs = {}; // the enclosure's attribute
    bool versionOnEnclosure = false;
    QString url = QStringLiteral("/corvinel.deb");
    qint64 length = 0;
    QByteArray signature = {};
};

QByteArray appcast(const QList<FeedItem>& items, const LocalHttpsServer& server) {
    QString xml = QStringLiteral(
        "<?xml version=\"1.0\"?>\n<rss version=\"2.0\" "
        "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n<channel>\n"
        "<title>Corvinel</title>\n");
    for (const FeedItem& item : items) {
        xml += QStringLiteral("<item><title>Corvinel %1</title>"
                              "<description><![CDATA[<p>What is new in %1</p>]]></description>"
                              "<pubDate>Mon, 07 Dec 2026 09:00:00 +0000</pubDate>")
                   .arg(item.version);
        if (!item.versionOnEnclosure)
            xml += QStringLiteral("<sparkle:version>%1</sparkle:version>").arg(item.version);
        if (!item.os.isEmpty())
            xml += QStringLiteral("<sparkle:os>%1</sparkle:os>").arg(item.os);
        xml += QStringLiteral("<enclosure url=\"%1\" length=\"%2\" type=\"application/"
                              "vnd.debian.binary-package\"")
                   .arg(server.url(item.url).toString())
                   .arg(item.length);
        if (item.versionOnEnclosure)
            xml += QStringLiteral(" sparkle:version=\"%1\"").arg(item.version);
        if (!item.enclosureOs.isEmpty())
            xml += QStringLiteral(" sparkle:os=\"%1\"").arg(item.enclosureOs);
        if (!item.signature.isEmpty())
            xml += QStringLiteral(" sparkle:edSignature=\"%1\"")
                       .arg(QString::fromLatin1(item.signature));
        xml += QStringLiteral("/></item>\n");
    }
    xml += QStringLiteral("</channel>\n</rss>\n");
    return xml.toUtf8();
}

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSslConfiguration::setDefaultConfiguration(LocalHttpsServer::trustedClientConfiguration());
        ASSERT_TRUE(folder.isValid());
    }

    std::unique_ptr<UpdateController> makeController() {
        UpdateSettings settings{
            UpdateAddress::check(server.url(QStringLiteral("/appcast.xml")).toString(),
                                 QStringLiteral("update feed")),
            QStringLiteral("0.1.0"), signingKey().publicKeyBase64(),
            folder.path() + QStringLiteral("/updates")};
        return std::make_unique<UpdateController>(std::move(settings), installer, relauncher,
                                                  [this] { return sessionActive; });
    }

    // Waits until the controller leaves its busy states (a check, a download, an install).
    static void settle(UpdateController& controller) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !controller.busy(); }, 10'000))
            << controller.statusText().toStdString();
    }

    // Publishes `package` (the server sends `served` of it) as version 0.2.0 and gets the
    // controller as far as "available".
    std::unique_ptr<UpdateController> offer(const QByteArray& package, const QByteArray& served,
                                            const QByteArray& signature, bool lengthGiven = true) {
        server.serve(QStringLiteral("/corvinel.deb"), served);
        FeedItem item{QStringLiteral("0.2.0")};
        item.length = lengthGiven ? package.size() : 0; // a feed's 0 is no length at all
        item.signature = signature;
        server.serve(QStringLiteral("/appcast.xml"), appcast({item}, server));
        auto controller = makeController();
        controller->checkForUpdates();
        settle(*controller);
        EXPECT_EQ(controller->state(), State::available) << controller->statusText().toStdString();
        return controller;
    }

    QStringList downloadedFiles() const {
        return QDir(folder.path() + QStringLiteral("/updates")).entryList(QDir::Files);
    }

    LocalHttpsServer server;
    QTemporaryDir folder;
    FakePackageInstaller installer;
    CountingRelaunch relauncher;
    bool sessionActive = false;
};

// ---- The feed ----

struct FeedRow {
    const char* name;
    QList<FeedItem> items;
    QByteArray body; // served as it stands when set, instead of the items
    int status = 200;
    State state;
    const char* words;
    const char* version = ""; // the version offered
};

class FeedCheck : public UpdaterTest, public ::testing::WithParamInterface<FeedRow> {};

TEST_P(FeedCheck, SaysWhatTheFeedOffersThisSystem) {
    const FeedRow& row = GetParam();
    server.serve(QStringLiteral("/appcast.xml"),
                 row.body.isNull() ? appcast(row.items, server) : row.body, row.status);
    auto controller = makeController();
    QSignalSpy checked(controller.get(), &UpdateController::lastCheckChanged);

    controller->checkForUpdates();
    settle(*controller);

    EXPECT_EQ(checked.count(), 1);
    EXPECT_TRUE(controller->lastCheck().isValid());
    EXPECT_EQ(controller->state(), row.state);
    EXPECT_TRUE(controller->statusText().contains(QString::fromUtf8(row.words)))
        << controller->statusText().toStdString();
    EXPECT_EQ(controller->availableVersion(), QString::fromLatin1(row.version));
    EXPECT_EQ(controller->canInstall(), row.state == State::available);
    if (row.state == State::available) {
        EXPECT_TRUE(controller->releaseNotes().contains(QString::fromLatin1(row.version)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FeedCheck,
    ::testing::Values(
        FeedRow{"same_version",
                {{QStringLiteral("0.1.0")}},
                {},
                200,
                State::upToDate,
                "You're up to date"},
        FeedRow{"newer_version",
                {{QStringLiteral("0.1.0")}, {QStringLiteral("0.2.0")}},
                {},
                200,
                State::available,
                "0.2.0 is available",
                "0.2.0"},
        FeedRow{"other_systems_skipped",
                {{QStringLiteral("0.2.9")},
                 {QStringLiteral("0.2.10"), {}, QStringLiteral("linux"), true},
                 {QStringLiteral("0.3.0"), QStringLiteral("windows")},
                 {QStringLiteral("0.4.0"), {}, QStringLiteral("macos")}},
                {},
                200,
                State::available,
                "0.2.10 is available",
                "0.2.10"},
        FeedRow{"only_other_systems_newer",
                {{QStringLiteral("0.3.0"), QStringLiteral("macos")}},
                {},
                200,
                State::upToDate,
                "You're up to date"},
        FeedRow{"malformed",
                {},
                QByteArrayLiteral("<rss><channel><item><title>Corvinel</item></channel></rss>"),
                200,
                State::failed,
                "The update feed could not be read"},
        FeedRow{"not_found", {}, QByteArrayLiteral("gone"), 404, State::failed, "404"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdaterTest, RefusedFeedAddressIsNeverFetched) {
    UpdateSettings settings{UpdateAddress::check(QStringLiteral("http://corvinel.app/appcast.xml"),
                                                 QStringLiteral("update feed")),
                            QStringLiteral("0.1.0"), signingKey().publicKeyBase64(), folder.path()};
    UpdateController controller(std::move(settings), installer, relauncher, [] { return false; });
    controller.checkForUpdates();
    EXPECT_EQ(controller.state(), State::failed);
    EXPECT_TRUE(controller.statusText().contains(QLatin1String("https")));
}

TEST_F(UpdaterTest, UnreachableServerIsToldInWords) {
    QTcpServer closed; // a port nobody listens on once it is closed again
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    UpdateSettings settings{
        UpdateAddress::check(QStringLiteral("https://127.0.0.1:%1/appcast.xml").arg(port),
                             QStringLiteral("update feed")),
        QStringLiteral("0.1.0"), signingKey().publicKeyBase64(), folder.path()};
    UpdateController controller(std::move(settings), installer, relauncher, [] { return false; });

    controller.checkForUpdates();
    settle(controller);

    EXPECT_EQ(controller.state(), State::failed);
    EXPECT_TRUE(controller.statusText().startsWith(QLatin1String("Could not check for updates: ")))
        << controller.statusText().toStdString();
    EXPECT_TRUE(controller.statusText().contains(QLatin1String("refused"), Qt::CaseInsensitive))
        << controller.statusText().toStdString();
}

// ---- The download ----

enum class Signing { good, wrong, none };

struct DownloadRow {
    const char* name;
    bool truncated;
    Signing signing;
    const char* words;
    bool lengthGiven = true;
};

class Download : public UpdaterTest, public ::testing::WithParamInterface<DownloadRow> {};

TEST_P(Download, ReachesTheInstallerOnlyWhenLengthAndSignatureMatch) {
    const DownloadRow& row = GetParam();
    const QByteArray package = QByteArray("!<arch>\ndebian-binary ").repeated(4000);
    const QByteArray signature = row.signing == Signing::good    ? signingKey().signBase64(package)
                                 : row.signing == Signing::wrong ? signingKey().signBase64("other")
                                                                 : QByteArray();
    auto controller = offer(package, row.truncated ? package.left(package.size() / 2) : package,
                            signature, row.lengthGiven);

    controller->install();
    settle(*controller);

    const bool good = !row.truncated && row.signing == Signing::good;
    EXPECT_EQ(controller->state(), good ? State::installed : State::failed);
    EXPECT_TRUE(controller->statusText().contains(QString::fromUtf8(row.words)))
        << controller->statusText().toStdString();
    if (good) {
        ASSERT_EQ(installer.installed.size(), 1);
        QFile handed(installer.installed.constFirst());
        ASSERT_TRUE(handed.open(QIODevice::ReadOnly));
        EXPECT_EQ(handed.readAll(), package);
        EXPECT_TRUE(controller->canRestart());
    } else {
        EXPECT_TRUE(installer.installed.isEmpty());
        EXPECT_TRUE(downloadedFiles().isEmpty()) << downloadedFiles().join(u' ').toStdString();
        EXPECT_FALSE(controller->canRestart());
    }
    // An unsigned package is refused before a byte of it is fetched.
    EXPECT_EQ(server.requestCount(QStringLiteral("/corvinel.deb")),
              row.signing == Signing::none ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Download,
    ::testing::Values(DownloadRow{"good", false, Signing::good, "is installed"},
                      DownloadRow{"truncated", true, Signing::good, "incomplete"},
                      DownloadRow{"wrong_signature", false, Signing::wrong, "does not match"},
                      DownloadRow{"unsigned", false, Signing::none, "not signed"},
                      DownloadRow{"feed_without_length", false, Signing::good, "is installed",
                                  false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Sessions ----

TEST_F(UpdaterTest, PackageFoundDuringSessionWaitsForItsEnd) {
    const QByteArray package("a package");
    auto controller = offer(package, package, signingKey().signBase64(package));
    sessionActive = true;

    controller->install();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return controller->state() == State::waitingForSession; }, 10'000));
    EXPECT_EQ(controller->statusText(),
              QStringLiteral("Update ready — installs when this session ends"));
    EXPECT_TRUE(installer.installed.isEmpty());

    sessionActive = false;
    controller->sessionEnded();
    settle(*controller);
    EXPECT_EQ(installer.installed.size(), 1);
    EXPECT_EQ(controller->state(), State::installed);
}

TEST_F(UpdaterTest, RestartIsNeverOfferedOrDoneDuringSession) {
    const QByteArray package("a package");
    auto controller = offer(package, package, signingKey().signBase64(package));
    controller->install();
    settle(*controller);
    ASSERT_EQ(controller->state(), State::installed);
    ASSERT_TRUE(controller->canRestart());

    // A session starts after the install: the offer goes, and a stale press does nothing.
    sessionActive = true;
    controller->restartNow();
    EXPECT_EQ(relauncher.count, 0);
    controller->sessionActivityChanged();
    EXPECT_FALSE(controller->canRestart());
    controller->restartNow();
    EXPECT_EQ(relauncher.count, 0);

    sessionActive = false;
    controller->sessionEnded();
    EXPECT_TRUE(controller->canRestart());
    controller->restartNow();
    EXPECT_EQ(relauncher.count, 1);

    // apt replaced the program during a session: said, and offered only once it ends.
    sessionActive = true;
    controller->binaryReplaced(QStringLiteral("0.3.0"));
    EXPECT_EQ(controller->statusText(),
              QStringLiteral("Updated to 0.3.0 — restart when convenient"));
    EXPECT_FALSE(controller->canRestart());
    sessionActive = false;
    controller->sessionEnded();
    EXPECT_TRUE(controller->canRestart());
}

} // namespace
