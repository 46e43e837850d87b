#include "update/PackageKitInstaller.h"
#include "support/PrivateBus.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

using namespace std::chrono_literals;

namespace {} // namespace

// What PackageKit's transaction says once InstallFiles arrives (its enumerations' values):
// an error first where there is one, then how it ended, or nothing at all.
struct Script {
    std::optional<uint> errorCode;
    QString details;
    std::optional<uint> exit;
};

// Destroy ends every transaction that finishes, as PackageKit's do, so the test knows nothing
// more will come.
class FakeTransaction : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.PackageKit.Transaction")
public:
    explicit FakeTransaction(Script script) : m_script(script) {}

    qulonglong flags = ~0ULL;
    QStringList files;
    QStringList hints;

public slots:
    void SetHints(const QStringList& given) { hints = given; }
    void InstallFiles(qulonglong givenFlags, const QStringList& givenFiles) {
        flags = givenFlags;
        files = givenFiles;
        // After the method's answer has gone out, as the real service does.
        QTimer::singleShot(0, this, &FakeTransaction::play);
    }

signals:
    void ErrorCode(uint code, const QString& details);
    void Finished(uint exit, uint runtime);
    void Destroy();

private:
    void play() {
        if (m_script.errorCode)
            emit ErrorCode(*m_script.errorCode, m_script.details);
        if (!m_script.exit)
            return;
        emit Finished(*m_script.exit, 300);
        emit Destroy();
    }
    Script m_script;
};

class FakePackageKit : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.PackageKit")
public:
    FakePackageKit(QDBusConnection bus, Script script) : m_bus(std::move(bus)), m_script(script) {}

    std::vector<std::unique_ptr<FakeTransaction>> transactions;
    // Above zero: CreateTransaction is answered this late.
    int answerAfterMs = 0;
    bool answered = false;

public slots:
    QDBusObjectPath CreateTransaction() {
        const QString path = QStringLiteral("/%1").arg(transactions.size() + 1);
        transactions.push_back(std::make_unique<FakeTransaction>(m_script));
        m_bus.registerObject(path, transactions.back().get(),
                             QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
        if (answerAfterMs > 0) {
            setDelayedReply(true);
            const QDBusMessage reply =
                message().createReply(QVariant::fromValue(QDBusObjectPath(path)));
            QTimer::singleShot(answerAfterMs, this, [this, reply] {
                m_bus.send(reply);
                answered = true;
            });
        }
        return QDBusObjectPath(path);
    }

private:
    QDBusConnection m_bus;
    Script m_script;
};

// Relays the transaction's last signal to the test, on the installer's own connection, so it
// arrives after everything the installer was sent.
class EndOfTransaction : public QObject {
    Q_OBJECT
signals:
    void seen();
public slots:
    void onDestroy() { emit seen(); }
};

namespace {
struct ClosedAtEnd {
    QString name;
    ~ClosedAtEnd() { QDBusConnection::disconnectFromBus(name); }
};

// A private bus with the fake service's connection and the installer's.
struct TestBuses {
    PrivateBus bus;
    // Closed only after every copy of them is gone (the members below, and the test's locals):
    // libdbus aborts when a private connection loses its last reference while open.
    const ClosedAtEnd closeService{QStringLiteral("packagekit")};
    const ClosedAtEnd closeClient{QStringLiteral("corvinel")};
    QDBusConnection service = QDBusConnection::connectToBus(bus.address(), "packagekit");
    QDBusConnection client = QDBusConnection::connectToBus(bus.address(), "corvinel");

    bool connected() const { return service.isConnected() && client.isConnected(); }
    // Puts `packageKit` on the bus under PackageKit's name.
    bool serve(FakePackageKit& packageKit) {
        return service.registerService(QStringLiteral("org.freedesktop.PackageKit")) &&
               service.registerObject(QStringLiteral("/org/freedesktop/PackageKit"), &packageKit,
                                      QDBusConnection::ExportAllSlots);
    }
};

struct Row {
    const char* name;
    bool serviceRuns;
    Script script;
    bool openerWorks;
    InstallOutcome::Kind kind;
    QString words; // must be in the outcome's text
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
    return out << row.name;
}

const QString kPackage = QStringLiteral("/home/someone/.cache/corvinel/corvinel_0.2.0_amd64.deb");

class InstallOutcomes : public ::testing::TestWithParam<Row> {};

TEST_P(InstallOutcomes, EndAsTheInstallerSaid) {
    const Row& row = GetParam();
    TestBuses buses;
    ASSERT_FALSE(buses.bus.address().isEmpty()) << "dbus-daemon did not start";
    ASSERT_TRUE(buses.connected());

    FakePackageKit packageKit(buses.service, row.script);
    if (row.serviceRuns) {
        ASSERT_TRUE(buses.serve(packageKit));
    }
    EndOfTransaction end;
    buses.client.connect(QString(), QString(),
                         QStringLiteral("org.freedesktop.PackageKit.Transaction"),
                         QStringLiteral("Destroy"), &end, SLOT(onDestroy()));
    QSignalSpy ended(&end, &EndOfTransaction::seen);

    QStringList opened;
    {
        PackageKitInstaller installer(buses.client, [&](const QString& path) {
            opened << path;
            return row.openerWorks;
        });
        installer.setTimeout(!row.script.exit ? 300ms : 20s);
        QList<InstallOutcome> outcomes;
        QObject::connect(&installer, &PackageInstaller::finished,
                         [&](const InstallOutcome& outcome) { outcomes << outcome; });
        QSignalSpy finished(&installer, &PackageInstaller::finished);

        installer.install(kPackage);
        EXPECT_TRUE(outcomes.isEmpty()) << "finished inside install()";
        ASSERT_TRUE(finished.wait(10000));
        // Let whatever else was on its way arrive before counting.
        if (row.serviceRuns && row.script.exit && ended.isEmpty()) {
            ASSERT_TRUE(ended.wait(5000));
        }
        QCoreApplication::processEvents();

        ASSERT_EQ(outcomes.size(), 1);
        EXPECT_EQ(outcomes[0].kind, row.kind);
        EXPECT_TRUE(outcomes[0].text.contains(row.words)) << outcomes[0].text.toStdString();
        if (row.kind == InstallOutcome::Kind::failed ||
            row.kind == InstallOutcome::Kind::savedOnly) {
            EXPECT_TRUE(outcomes[0].text.contains(kPackage)) << outcomes[0].text.toStdString();
        }
    }
    if (row.serviceRuns) {
        ASSERT_EQ(packageKit.transactions.size(), 1u);
        const FakeTransaction& transaction = *packageKit.transactions[0];
        EXPECT_EQ(transaction.files, QStringList{kPackage});
        // A local .deb is never "trusted": that flag would make PackageKit refuse it.
        EXPECT_EQ(transaction.flags, 0u);
        EXPECT_EQ(transaction.hints, QStringList{QStringLiteral("interactive=true")});
        EXPECT_TRUE(opened.isEmpty());
    } else {
        EXPECT_EQ(opened, QStringList{kPackage});
    }
}

using Kind = InstallOutcome::Kind;
constexpr uint kSuccess = 1, kFailed = 2, kCancelled = 3;

Row played(const char* name, Script script, Kind kind, const QString& words) {
    return {name, true, std::move(script), true, kind, words};
}
Row withoutService(const char* name, bool openerWorks, Kind kind, const QString& words) {
    return {name, false, {}, openerWorks, kind, words};
}

const QString kCancelledWords = QStringLiteral("The installation was cancelled.");
INSTANTIATE_TEST_SUITE_P(
    PackageKit, InstallOutcomes,
    ::testing::Values(
        played("installed", {{}, {}, kSuccess}, Kind::installed, QStringLiteral("installed")),
        played("passwordRefused", {48, QStringLiteral("Failed to obtain authentication."), kFailed},
               Kind::declined, kCancelledWords),
        played("promptCancelled", {{}, {}, kCancelled}, Kind::declined, kCancelledWords),
        played("transactionCancelled",
               {17, QStringLiteral("The task was stopped successfully"), kFailed}, Kind::declined,
               kCancelledWords),
        played("failedWithReason",
               {38, QStringLiteral("Local packages cannot be authenticated"), kFailed},
               Kind::failed, QStringLiteral("Local packages cannot be authenticated")),
        played("neverAnswers", {}, Kind::failed, QStringLiteral("did not finish in time")),
        withoutService("noServiceOpened", true, Kind::handedOver,
                       QStringLiteral("Opened in your software centre to finish installing.")),
        withoutService("noServiceNothingOpens", false, Kind::savedOnly,
                       QStringLiteral("saved at"))),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// The user was told the install did not finish in time: a transaction whose creation is
// answered after that must not install the package behind their back.
TEST(PackageKitInstaller, ATransactionAnsweredAfterTheTimeLimitInstallsNothing) {
    TestBuses buses;
    ASSERT_FALSE(buses.bus.address().isEmpty()) << "dbus-daemon did not start";
    ASSERT_TRUE(buses.connected());
    FakePackageKit packageKit(buses.service, {{}, {}, kSuccess});
    packageKit.answerAfterMs = 600;
    ASSERT_TRUE(buses.serve(packageKit));

    PackageKitInstaller installer(buses.client, [](const QString&) { return false; });
    installer.setTimeout(300ms);
    QSignalSpy finished(&installer, &PackageInstaller::finished);
    installer.install(kPackage);
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(finished[0][0].value<InstallOutcome>().kind, Kind::failed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return packageKit.answered; }, 5000));
    ASSERT_EQ(packageKit.transactions.size(), 1u);
    // Nothing is sent back for the late answer; anything sent would arrive within this.
    EXPECT_FALSE(
        QTest::qWaitFor([&] { return !packageKit.transactions[0]->files.isEmpty(); }, 500));
    EXPECT_EQ(finished.size(), 1);
}

} // namespace

#include "PackageKitInstallerTest.moc"
