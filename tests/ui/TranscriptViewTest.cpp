#include "support/FakeSession.h"
#include "support/QmlHarness.h"
#include "support/TestHome.h"
#include "ui/FollowBottom.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <functional>
#include <gtest/gtest.h>

namespace {

// The real window over the fake session, with the model played by the test.
class TranscriptView : public ::testing::Test {
protected:
    void SetUp() override {
        root = qml.loadMain(*fake.controller, fake.settings);
        ASSERT_NE(root, nullptr) << qPrintable(qml.warnings().join(u'\n'));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(qml.window()));
        list = qml.findByAccessibleName(QStringLiteral("Questions and answers"));
        pill = qml.findByAccessibleName(QStringLiteral("New answers below"));
        ASSERT_NE(list, nullptr);
        ASSERT_NE(pill, nullptr);
        fake.settings.setApiKey(QStringLiteral("sk-test"));
        QSignalSpy active(fake.controller.get(), &SessionController::isSessionActiveChanged);
        fake.controller->start();
        ASSERT_TRUE(active.wait());
    }

    void answer(int n) {
        fake.clock.advance(30); // apart enough to be separate questions
        const QString item = QStringLiteral("i%1").arg(n);
        const QString response = QStringLiteral("r%1").arg(n);
        fake.client.onTranscript(item, QStringLiteral("Question %1, asked at some length?").arg(n));
        for (int piece = 0; piece < 6; ++piece)
            fake.client.onDelta(response, QStringLiteral("A fair amount of answer text. "));
        fake.client.onResponseDone(response);
    }

    QQuickItem* lastCard() const {
        QQuickItem* item = nullptr;
        const int count = list->property("count").toInt();
        QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, item),
                                  Q_ARG(int, count - 1));
        return item;
    }

    bool atEnd() const {
        const double distance =
            FollowBottom::distanceToEnd(list->property("contentY").toDouble(), list->height(),
                                        list->property("bottomMargin").toDouble(), lastCard());
        return distance <= FollowBottom::bottomThreshold;
    }

    void wheelUp(int notches) {
        const QPointF at = list->mapToScene(QPointF(list->width() / 2, list->height() / 2));
        QWheelEvent wheel(at, qml.window()->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QGuiApplication::sendEvent(qml.window(), &wheel);
    }

    TestHome home;
    FakeSession fake{home.configHome(), home.path() + QStringLiteral("/Documents/Corvinel")};
    QmlHarness qml;
    QObject* root = nullptr;
    QQuickItem* list = nullptr;
    QQuickItem* pill = nullptr;
};

TEST_F(TranscriptView, FollowsTheEndUntilTheReaderScrollsUpThenOffersThePill) {
    for (int n = 1; n <= 25; ++n)
        answer(n);
    EXPECT_TRUE(QTest::qWaitFor([&] { return atEnd(); }));
    EXPECT_FALSE(pill->isEnabled());

    wheelUp(10);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !list->property("moving").toBool(); }));
    EXPECT_FALSE(atEnd());

    answer(26);
    EXPECT_TRUE(QTest::qWaitFor([&] { return pill->opacity() == 1.0; }));
    EXPECT_TRUE(pill->isEnabled());
    EXPECT_FALSE(atEnd());

    QmlHarness::click(pill);
    EXPECT_TRUE(QTest::qWaitFor([&] { return atEnd() && !pill->isEnabled(); }));
    EXPECT_TRUE(qml.warnings().isEmpty()) << qPrintable(qml.warnings().join(u'\n'));
}

// Keys move the list as the reader's own input: Up leaves the end, End returns to it.
TEST_F(TranscriptView, KeysScrollAsTheReader) {
    for (int n = 1; n <= 12; ++n)
        answer(n);
    EXPECT_TRUE(QTest::qWaitFor([&] { return atEnd(); }));
    list->forceActiveFocus();
    const double before = list->property("contentY").toDouble();
    QTest::keyClick(qml.window(), Qt::Key_PageUp);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !list->property("moving").toBool(); }));
    EXPECT_LT(list->property("contentY").toDouble(), before);
    answer(13);
    EXPECT_TRUE(QTest::qWaitFor([&] { return pill->isEnabled(); }));
    QTest::keyClick(qml.window(), Qt::Key_End);
    EXPECT_TRUE(QTest::qWaitFor([&] { return atEnd() && !pill->isEnabled(); }));
}

TEST_F(TranscriptView, CopyAnswerPutsTheAnswerOnTheClipboard) {
    answer(1);
    QQuickItem* copy = qml.waitForAccessibleName(QStringLiteral("Copy answer"));
    ASSERT_NE(copy, nullptr);
    QGuiApplication::clipboard()->clear();
    QmlHarness::click(copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QStringLiteral("A fair amount of answer text. ").repeated(6));
}

TEST_F(TranscriptView, MyAnswerUnfoldsByItsOneNameWhileItRecords) {
    fake.settings.setTranscribeMyAnswers(true);
    answer(1);
    fake.engine.onLevels(0.5f, 0); // the user starts answering
    fake.mic.onPartial(QStringLiteral("Sure, gladly"));
    QQuickItem* toggle = qml.waitForAccessibleName(QStringLiteral("My answer"));
    ASSERT_NE(toggle, nullptr);
    // The folded body: the item showing the words heard so far.
    const std::function<QQuickItem*(QQuickItem*)> bodyBelow = [&](QQuickItem* item) {
        if (item->property("text").toString() == QStringLiteral("Sure, gladly"))
            return item;
        for (QQuickItem* child : item->childItems())
            if (QQuickItem* found = bodyBelow(child))
                return found;
        return static_cast<QQuickItem*>(nullptr);
    };
    QQuickItem* body = bodyBelow(qml.window()->contentItem());
    ASSERT_NE(body, nullptr);
    EXPECT_FALSE(body->isVisible());
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(toggle);
    ASSERT_TRUE(button && button->actionInterface());
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(QTest::qWaitFor([&] { return body->isVisible(); }));
}

} // namespace
