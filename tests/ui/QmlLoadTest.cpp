#include "support/FakeSession.h"
#include "support/QmlHarness.h"
#include "support/TestHome.h"

#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(QmlLoad, MainLoadsWithoutAWarningAndShowsTheWindowAtItsDefaultSize) {
    TestHome home;
    FakeSession fake(home.configHome(), home.path() + QStringLiteral("/Documents/Corvinel"));
    QmlHarness qml;
    QObject* root = qml.loadMain(*fake.controller, fake.settings);
    ASSERT_NE(root, nullptr) << qPrintable(qml.warnings().join(u'\n'));
    QQuickWindow* window = qml.window();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->title(), QStringLiteral("Corvinel"));
    EXPECT_EQ(window->size(), QSize(480, 760));
    EXPECT_EQ(window->minimumSize(), QSize(420, 400));
    EXPECT_TRUE(qml.warnings().isEmpty()) << qPrintable(qml.warnings().join(u'\n'));
}

} // namespace
