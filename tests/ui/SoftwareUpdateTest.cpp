#include "support/FakeSession.h"
#include "support/QmlHarness.h"
#include "support/TestHome.h"
#include "support/UpdateFakes.h"
#include "ui/Commands.h"
#include "ui/SoftwareUpdateModel.h"
#include "update/UpdateController.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>
#include <QtQuickTest/quicktest.h>
#include <gtest/gtest.h>

namespace {

QByteArray feedOffering(const QString& version) {
    return QStringLiteral(
               "<rss version=\"2.0\" "
               "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
               "<item><title>Corvinel %1</title><sparkle:version>%1</sparkle:version>"
               "<description><![CDATA[<p>Faster answers.</p><ul><li>One</li><li>Two</li></ul>]]>"
               "</description><enclosure url=\"https://127.0.0.1:9/corvinel.deb\" length=\"10\" "
               "sparkle:edSignature=\"c2ln\"/></item></channel></rss>")
        .arg(version)
        .toUtf8();
}

struct SoftwareUpdateFixture : ::testing::Test {
    TestHome home;
    FakeSession fake{home.configHome(), home.path() + QStringLiteral("/Documents/Corvinel")};
    FakePackageInstaller installer;
    CountingRelaunch relauncher;
    // No address: a check fails at once, without the network; feeds come through takeFeed.
    UpdateController updater{{{{}, QStringLiteral("No feed in this test.")},
                              QStringLiteral("0.1.0"),
                              {},
                              home.path() + QStringLiteral("/updates")},
                             installer,
                             relauncher,
                             [] { return false; }};
};

TEST_F(SoftwareUpdateFixture, CheckForUpdatesOpensTheWindowWithWhatWasFound) {
    QmlHarness harness;
    QObject* root =
        harness.load(QStringLiteral("Main.qml"),
                     {{QStringLiteral("session"), QVariant::fromValue(fake.controller.get())},
                      {QStringLiteral("settings"), QVariant::fromValue(&fake.settings)},
                      {QStringLiteral("updater"), QVariant::fromValue(&updater)}});
    ASSERT_NE(root, nullptr) << harness.warnings().join(u'\n').toStdString();
    auto* commands = root->findChild<Commands*>();
    ASSERT_NE(commands, nullptr);

    commands->trigger(QStringLiteral("checkForUpdates"));
    EXPECT_TRUE(updater.lastCheck().isValid());
    QQuickItem* status = harness.waitForAccessibleName(QStringLiteral("Update status"));
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->property("text").toString(), QStringLiteral("No feed in this test."));

    updater.takeFeed(feedOffering(QStringLiteral("0.2.0")));
    QQuickItem* install = harness.waitForAccessibleName(QStringLiteral("Install"));
    QQuickItem* again = harness.findByAccessibleName(QStringLiteral("Check Again"));
    ASSERT_NE(install, nullptr);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(QQuickTest::qWaitForPolish(install->window()));
    // The buttons line up at the right, the action beside "Close".
    EXPECT_GT(install->x(), again->x());
    EXPECT_EQ(harness.findByAccessibleName(QStringLiteral("Release notes"))->property("text"),
              QStringLiteral("Faster answers.\n• One\n• Two"));

    harness.click(harness.findByAccessibleName(QStringLiteral("Close")));
    EXPECT_FALSE(root->property("showSoftwareUpdate").toBool());
    EXPECT_TRUE(harness.warnings().isEmpty()) << harness.warnings().join(u'\n').toStdString();
}

TEST(SoftwareUpdate, LastCheckSaysTodayOnlyForToday) {
    const QDateTime now(QDate(2026, 12, 7), QTime(14, 5));
    EXPECT_EQ(SoftwareUpdateModel::lastCheckText({}, now), QStringLiteral("Not checked yet"));
    EXPECT_EQ(SoftwareUpdateModel::lastCheckText(QDateTime(QDate(2026, 12, 7), QTime(9, 41)), now),
              QStringLiteral("Last checked: today at 09:41"));
    const QString yesterday =
        SoftwareUpdateModel::lastCheckText(QDateTime(QDate(2026, 12, 6), QTime(9, 41)), now);
    EXPECT_FALSE(yesterday.contains(QLatin1String("today"))) << yesterday.toStdString();
    EXPECT_TRUE(yesterday.endsWith(QLatin1String(" at 09:41")));
}

} // namespace
