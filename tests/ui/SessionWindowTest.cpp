#include "platform/GlobalShortcuts.h"
#include "support/FakeSession.h"
#include "support/QmlHarness.h"
#include "support/TestHome.h"
#include "ui/GlobalKeys.h"

#include <QDir>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQuickTest/quicktest.h>
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
    fake.client.onResponseCreated(QStringLiteral("r1"), QStringLiteral("item1"), QString());
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

    ASSERT_EQ(fake.controller->pairs().size(), 1) << "the answer is under its question";
    const QString first = fake.controller->pairs().first().id;

    // A typed question: a card of its own, marked as typed, answered like any other.
    QQuickItem* field = qml.waitForAccessibleName(QStringLiteral("Ask or instruct"));
    ASSERT_NE(field, nullptr);
    QTest::keyClick(qml.window(), Qt::Key_L, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return field->hasActiveFocus(); }));
    for (const char c : std::string("What is your notice period?"))
        QTest::keyClick(qml.window(), c);
    QTest::keyClick(qml.window(), Qt::Key_Return);
    ASSERT_EQ(fake.client.regenerations.size(), 1);
    EXPECT_EQ(fake.client.regenerations.last(), QStringLiteral("What is your notice period?"));
    EXPECT_TRUE(field->property("text").toString().isEmpty());
    ASSERT_EQ(fake.controller->pairs().size(), 2);
    EXPECT_NE(qml.waitForAccessibleName(QStringLiteral("Typed")), nullptr);
    fake.client.onResponseCreated(QStringLiteral("r2"), QString(),
                                  fake.client.regeneratedCards.last());
    fake.client.onDelta(QStringLiteral("r2"), QStringLiteral("Three months."));
    fake.client.onResponseDone(QStringLiteral("r2"));
    EXPECT_EQ(fake.controller->pairs().last().answer, QStringLiteral("Three months."));

    // A rewrite of the first answer: the new text replaces it, the old one stays a click away.
    QQuickItem* shorter = qml.waitForAccessibleName(QStringLiteral("Shorter"));
    ASSERT_NE(shorter, nullptr);
    QmlHarness::click(shorter);
    ASSERT_EQ(fake.client.regeneratedCards.last(), first);
    EXPECT_TRUE(fake.client.regenerations.last().startsWith(
        QStringLiteral("Rewrite this answer to the question \"How do you keep a release calm?\" "
                       "much shorter")));
    fake.client.onResponseCreated(QStringLiteral("r3"), QString(), first);
    fake.client.onDelta(QStringLiteral("r3"), QStringLiteral("Small, tested steps."));
    fake.client.onResponseDone(QStringLiteral("r3"));
    EXPECT_NE(qml.waitForAccessibleName(QStringLiteral("Version 2/2")), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return answer->property("text").toString() == QStringLiteral("Small, tested steps.");
    }));
    QQuickItem* previous = qml.waitForAccessibleName(QStringLiteral("Previous version"));
    ASSERT_NE(previous, nullptr);
    QmlHarness::click(previous);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return answer->property("text").toString() ==
               QStringLiteral("Small batches, and a rollback that is tested.");
    }));
    EXPECT_NE(qml.waitForAccessibleName(QStringLiteral("Version 1/2")), nullptr);
    // The same rewrites in the answer's context menu: the first is "Shorter".
    const int asked = int(fake.client.regenerations.size());
    QTest::mouseClick(qml.window(), Qt::RightButton, {},
                      answer->mapToScene(QPointF(answer->width() / 2, 4)).toPoint());
    QTest::keyClick(qml.window(), Qt::Key_Down);
    QTest::keyClick(qml.window(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.client.regenerations.size() > asked; }));
    EXPECT_EQ(fake.client.regeneratedCards.last(), first);
    EXPECT_TRUE(fake.client.regenerations.last().contains(QStringLiteral("much shorter")));

    QQuickItem* stop = qml.waitForAccessibleName(QStringLiteral("Stop"));
    ASSERT_NE(stop, nullptr);
    QmlHarness::click(stop);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fake.controller->isSessionActive(); }));
    EXPECT_FALSE(field->isEnabled()) << "outside a session the field says why";
    EXPECT_EQ(field->property("placeholderText").toString(),
              QStringLiteral("Start a session to ask a question"));
    QQuickItem* transcript = qml.waitForAccessibleName(QStringLiteral("Transcript"));
    ASSERT_NE(transcript, nullptr) << "the banner offers the transcript";
    EXPECT_NE(qml.waitForAccessibleName(QStringLiteral("Folder")), nullptr);
    EXPECT_NE(qml.waitForAccessibleName(fake.controller->bannerText()), nullptr)
        << "the banner shows";
    // The cards above settle after the banner comes: click once the window is laid out.
    ASSERT_TRUE(QQuickTest::qWaitForPolish(qml.window()));
    QmlHarness::click(transcript);
    ASSERT_EQ(fake.revealer.revealed.size(), 1);
    EXPECT_TRUE(fake.revealer.revealed.first().first().startsWith(folder));
    EXPECT_TRUE(fake.revealer.revealed.first().first().endsWith(QStringLiteral(".transcript.md")))
        << fake.revealer.revealed.first().first().toStdString()
        << " banner: " << fake.controller->bannerText().toStdString();
    EXPECT_TRUE(qml.warnings().isEmpty()) << qPrintable(qml.warnings().join(u'\n'));
}

// Shortcuts the desktop reports from another window reach the window's commands; where the
// desktop has no portal for them, the settings say so and the window's own keys still work.
TEST(SessionWindow, ShortcutsFromAnyWindowDriveTheWindowAndSayWhenThereAreNone) {
    TestHome home;
    FakeSession fake(home.configHome(), home.path() + QStringLiteral("/Documents/Corvinel"));
    fake.settings.setApiKey(QStringLiteral("sk-test"));
    GlobalShortcuts noPortal(QDBusConnection(QStringLiteral("no-bus")));
    GlobalKeys::instance().use(&noPortal);
    QmlHarness qml;
    ASSERT_NE(qml.loadMain(*fake.controller, fake.settings), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(qml.window()));
    EXPECT_TRUE(QTest::qWaitFor([] {
        return GlobalKeys::instance().summary().endsWith(
            QStringLiteral("The window's own shortcuts still work."));
    })) << GlobalKeys::instance().summary().toStdString();

    GlobalKeys::instance().press(QStringLiteral("start-stop"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.controller->isSessionActive(); }));
    GlobalKeys::instance().press(QStringLiteral("ask-field"));
    QQuickItem* field = qml.waitForAccessibleName(QStringLiteral("Ask or instruct"));
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return field->hasActiveFocus(); }));
    QTest::keyClick(qml.window(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !fake.controller->isSessionActive(); }))
        << "the window's own Ctrl+Return still stops";
    GlobalKeys::instance().use(nullptr);
    EXPECT_TRUE(qml.warnings().isEmpty()) << qPrintable(qml.warnings().join(u'\n'));
}

} // namespace
