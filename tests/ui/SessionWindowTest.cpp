#include "support/FakeSession.h"
#include "support/QmlHarness.h"
#include "support/TestHome.h"

#include <QDir>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A whole session through the window as a user drives it: Start, a question whose answer
// streams onto its card, Stop, and the banner with the saved files.
TEST(SessionWindow, StartStreamStopFromTheWindow) {
    TestHome home;
    const QString folder = home.path() + QStringLiteral("/Documents/Corvinel");
    FakeSession fake(home.configHome(), folder);
    fake.settings.setApiKey(QStringLiteral("sk-test"));
    QmlHarness qml;
    ASSERT_NE(qml.loadMain(*fake.controller, fake.settings), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(qml.window()));

    QQuickItem* start = qml.waitForAccessibleName(QStringLiteral("Start"));
    ASSERT_NE(start, nullptr);
    QmlHarness::click(start);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.controller->isSessionActive(); }));
    ASSERT_EQ(fake.client.starts.size(), 1);

    const QString question = QStringLiteral("How do you keep a release calm?");
    fake.client.onTranscript(QStringLiteral("item1"), question);
    fake.client.onDelta(QStringLiteral("r1"), QString());
    QQuickItem* card = qml.waitForAccessibleName(question);
    ASSERT_NE(card, nullptr) << "the question is on a card";
    EXPECT_NE(qml.waitForAccessibleName(QStringLiteral("thinking…")), nullptr);

    fake.client.onDelta(QStringLiteral("r1"), QStringLiteral("Small batches, "));
    QQuickItem* answer = qml.waitForAccessibleName(QStringLiteral("Answer text"));
    ASSERT_NE(answer, nullptr);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return answer->property("text").toString() == QStringLiteral("Small batches, "); }));
    fake.client.onDelta(QStringLiteral("r1"), QStringLiteral("and a rollback that is tested."));
    fake.client.onResponseDone(QStringLiteral("r1"));
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return answer->property("text").toString() ==
               QStringLiteral("Small batches, and a rollback that is tested.");
    }));

    QQuickItem* stop = qml.waitForAccessibleName(QStringLiteral("Stop"));
    ASSERT_NE(stop, nullptr);
    QmlHarness::click(stop);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fake.controller->isSessionActive(); }));
    QQuickItem* transcript = qml.waitForAccessibleName(QStringLiteral("Transcript"));
    ASSERT_NE(transcript, nullptr) << "the banner offers the transcript";
    EXPECT_NE(qml.waitForAccessibleName(QStringLiteral("Folder")), nullptr);
    EXPECT_NE(qml.waitForAccessibleName(fake.controller->bannerText()), nullptr)
        << "the banner shows";
    QmlHarness::click(transcript);
    ASSERT_EQ(fake.revealer.revealed.size(), 1);
    EXPECT_TRUE(fake.revealer.revealed.first().first().startsWith(folder));
    EXPECT_TRUE(fake.revealer.revealed.first().first().endsWith(QStringLiteral(".transcript.md")))
        << fake.revealer.revealed.first().first().toStdString()
        << " banner: " << fake.controller->bannerText().toStdString();
    EXPECT_TRUE(qml.warnings().isEmpty()) << qPrintable(qml.warnings().join(u'\n'));
}

} // namespace
