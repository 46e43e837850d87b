#include "support/FakeSession.h"
#include "support/QmlHarness.h"
#include "support/TestHome.h"
#include "ui/OnboardingModel.h"
#include "ui/SettingsSheetModel.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct Walkthrough : ::testing::Test {
    TestHome home;
    FakeSession fake{home.configHome(), home.path() + QStringLiteral("/Documents/Corvinel")};
    OnboardingModel model;
    Walkthrough() {
        fake.settings.setHasCompletedOnboarding(false);
        model.setSettings(&fake.settings);
        model.setSession(fake.controller.get());
    }
    QVariantMap row(int index) const { return model.permissions().at(index).toMap(); }
};

TEST_F(Walkthrough, MovesClampedAndShowsTheRightFooter) {
    const struct {
        const char* action;
        int step;
        const char* title;
        bool back;
        bool skip;
        const char* primary;
    } rows[] = {
        {"start", 0, "Welcome to Corvinel", false, true, "Continue"},
        {"-1", 0, "Welcome to Corvinel", false, true, "Continue"},
        {"primary", 1, "Let it hear the meeting", true, true, "Continue"},
        {"+5", 3, "One practice run first", true, false, "Start using it"},
        {"-1", 2, "Make the answers yours", true, true, "Continue"},
        {"primary", 3, "One practice run first", true, false, "Start using it"},
    };
    for (const auto& row : rows) {
        const QString action = QString::fromUtf8(row.action);
        if (action == QStringLiteral("primary"))
            model.primary();
        else if (action != QStringLiteral("start"))
            model.move(action.toInt());
        EXPECT_EQ(model.step(), row.step) << row.action;
        EXPECT_EQ(model.title(), QString::fromUtf8(row.title)) << row.action;
        EXPECT_EQ(model.position(), QStringLiteral("Step %1 of 4").arg(row.step + 1)) << row.action;
        EXPECT_EQ(model.backVisible(), row.back) << row.action;
        EXPECT_EQ(model.skipVisible(), row.skip) << row.action;
        EXPECT_EQ(model.primaryLabel(), QString::fromUtf8(row.primary)) << row.action;
        const QStringList dots = model.dotColors();
        EXPECT_EQ(dots.size(), 4);
        EXPECT_EQ(dots.count(dots.first()), row.step + 1) << "the current and earlier dots";
    }
    EXPECT_FALSE(fake.settings.hasCompletedOnboarding());
    model.primary();
    EXPECT_TRUE(fake.settings.hasCompletedOnboarding()) << "\"Start using it\" finishes";
    EXPECT_FALSE(model.shown());

    fake.settings.setHasCompletedOnboarding(false);
    EXPECT_TRUE(model.shown());
    EXPECT_EQ(model.step(), 0) << "every showing starts at the beginning";
}

TEST_F(Walkthrough, RowsTurnGreenWithinTwoSecondsOfTheCheckPassing) {
    QSignalSpy checked(&model, &OnboardingModel::checked);
    ASSERT_TRUE(checked.wait());
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(row(i).value(QStringLiteral("granted")).toBool()) << i;
    EXPECT_TRUE(row(1).value(QStringLiteral("testable")).toBool());
    EXPECT_FALSE(row(2).value(QStringLiteral("testable")).toBool());

    fake.permissions.setReport({true, true, false});
    QSignalSpy changed(&model, &OnboardingModel::permissionsChanged);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(changed.wait(OnboardingModel::recheckMs + 500)) << "without any click";
    EXPECT_LE(clock.elapsed(), OnboardingModel::recheckMs + 500);
    EXPECT_TRUE(row(0).value(QStringLiteral("granted")).toBool());
    EXPECT_TRUE(row(1).value(QStringLiteral("granted")).toBool());
    EXPECT_FALSE(row(2).value(QStringLiteral("granted")).toBool());

    fake.permissions.setReport({true, true, true});
    model.recheck(); // "Grant"
    ASSERT_TRUE(changed.wait(500)) << "a grant checks at once";
    EXPECT_TRUE(row(2).value(QStringLiteral("granted")).toBool());

    const int checks = fake.permissions.checks;
    fake.settings.setHasCompletedOnboarding(true);
    EXPECT_FALSE(checked.wait(OnboardingModel::recheckMs + 300)) << "no checks once it is gone";
    EXPECT_LE(fake.permissions.checks - checks, 1);
}

TEST_F(Walkthrough, LoadsTheCvOrSaysNothingCouldBeRead) {
    fake.settings.setContextText(QStringLiteral("before"));
    QSignalSpy loaded(&model, &OnboardingModel::documentsLoaded);
    model.loadDocuments({QStringLiteral(CONTEXT_DATA "/resume-scanned.pdf")});
    ASSERT_TRUE(loaded.wait());
    EXPECT_EQ(fake.controller->bannerText(),
              QStringLiteral("Couldn't read any text from that file."));
    EXPECT_EQ(fake.settings.contextText(), QStringLiteral("before"));
    EXPECT_EQ(model.cvDetail(),
              QStringLiteral("PDF, Markdown or text — load the fullest version you have"));

    fake.controller->dismissBanner();
    model.loadDocuments({QStringLiteral(CONTEXT_DATA "/resume.md")});
    ASSERT_TRUE(loaded.wait());
    EXPECT_FALSE(fake.controller->hasBanner()) << "the CV row says it instead";
    EXPECT_TRUE(fake.settings.contextText().contains(QStringLiteral("resume.md")));
    EXPECT_EQ(model.cvDetail(), QStringLiteral("resume.md"));
}

// The walkthrough as a window over the main one: Return goes on, and every way of leaving it
// marks it completed.
TEST(WalkthroughWindow, ReturnContinuesAndEveryWayOutCompletesIt) {
    for (const char* way : {"Skip setup", "Escape", "close", "Start using it"}) {
        TestHome home;
        FakeSession fake(home.configHome(), home.path() + QStringLiteral("/Documents/Corvinel"));
        fake.settings.setHasCompletedOnboarding(false);
        QmlHarness qml;
        ASSERT_NE(qml.loadMain(*fake.controller, fake.settings), nullptr);
        QQuickItem* title = qml.waitForAccessibleName(QStringLiteral("Welcome to Corvinel"));
        ASSERT_NE(title, nullptr) << way;
        QQuickWindow* sheet = title->window();
        ASSERT_NE(sheet, qml.window()) << "a window of its own";
        ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
        EXPECT_EQ(qml.findByAccessibleName(QStringLiteral("Back")), nullptr);

        QTest::keyClick(sheet, Qt::Key_Return);
        EXPECT_NE(qml.waitForAccessibleName(QStringLiteral("Let it hear the meeting")), nullptr)
            << "Return presses Continue";
        const QString how = QString::fromUtf8(way);
        if (how == QStringLiteral("Escape")) {
            QTest::keyClick(sheet, Qt::Key_Escape);
        } else if (how == QStringLiteral("close")) {
            sheet->close();
        } else if (how == QStringLiteral("Start using it")) {
            for (int i = 0; i < 2; ++i)
                QTest::keyClick(sheet, Qt::Key_Return);
            EXPECT_FALSE(fake.settings.hasCompletedOnboarding()) << "not before the last step";
            EXPECT_EQ(qml.findByAccessibleName(QStringLiteral("Skip setup")), nullptr);
            QQuickItem* start = qml.waitForAccessibleName(how);
            ASSERT_NE(start, nullptr);
            QmlHarness::click(start);
        } else {
            QQuickItem* skip = qml.waitForAccessibleName(how);
            ASSERT_NE(skip, nullptr);
            QmlHarness::click(skip);
        }
        EXPECT_TRUE(fake.settings.hasCompletedOnboarding()) << way;
        EXPECT_TRUE(QTest::qWaitFor([&] { return !sheet->isVisible(); })) << way;
        EXPECT_TRUE(qml.warnings().isEmpty()) << qPrintable(qml.warnings().join(u'\n'));
    }
}

// From a first start to a running session with nothing edited by hand: through the
// walkthrough with Return, a CV loaded, the key typed into the settings, then Start.
TEST(WalkthroughWindow, FirstStartToASessionWithoutEditingAFile) {
    TestHome home;
    FakeSession fake(home.configHome(), home.path() + QStringLiteral("/Documents/Corvinel"));
    fake.settings.setHasCompletedOnboarding(false);
    QmlHarness qml;
    ASSERT_NE(qml.loadMain(*fake.controller, fake.settings), nullptr);
    QQuickItem* title = qml.waitForAccessibleName(QStringLiteral("Welcome to Corvinel"));
    ASSERT_NE(title, nullptr);
    QQuickWindow* walkthrough = title->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(walkthrough));
    QTest::keyClick(walkthrough, Qt::Key_Return);
    QTest::keyClick(walkthrough, Qt::Key_Return);
    ASSERT_NE(qml.waitForAccessibleName(QStringLiteral("Make the answers yours")), nullptr);
    auto* model = walkthrough->findChild<OnboardingModel*>();
    ASSERT_NE(model, nullptr);
    QSignalSpy loaded(model, &OnboardingModel::documentsLoaded);
    model->loadDocuments({QStringLiteral(CONTEXT_DATA "/resume.txt")}); // the chooser's answer
    ASSERT_TRUE(loaded.wait());
    EXPECT_NE(qml.waitForAccessibleName(QStringLiteral("resume.txt")), nullptr) << "the CV row";
    QTest::keyClick(walkthrough, Qt::Key_Return);
    QTest::keyClick(walkthrough, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !walkthrough->isVisible(); }));

    QmlHarness::click(qml.waitForAccessibleName(QStringLiteral("Settings")));
    QQuickItem* done = qml.waitForAccessibleName(QStringLiteral("Done"));
    ASSERT_NE(done, nullptr);
    QQuickItem* key = nullptr;
    const std::function<void(QQuickItem*)> walk = [&](QQuickItem* item) {
        if (item->objectName() == QStringLiteral("apiKey"))
            key = item;
        for (QQuickItem* child : item->childItems())
            walk(child);
    };
    walk(done->window()->contentItem());
    ASSERT_NE(key, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(key->window()));
    key->forceActiveFocus();
    const QString secret = QStringLiteral("sk-proj-typed-by-hand");
    for (const QChar c : secret)
        QTest::keyClick(key->window(), c.toLatin1());
    EXPECT_EQ(fake.settings.apiKey(), secret);
    EXPECT_NE(qml.waitForAccessibleName(SettingsSheetModel::keyCaption(int(secret.size()))),
              nullptr);
    QQuickWindow* sheet = key->window();
    QTest::keyClick(sheet, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sheet->isVisible(); }));

    QmlHarness::click(qml.waitForAccessibleName(QStringLiteral("Start")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.controller->isSessionActive(); }));
    const AppSettings stored(home.configHome() + QStringLiteral("/Corvinel/Corvinel.conf"));
    EXPECT_EQ(stored.apiKey(), secret);
    EXPECT_TRUE(stored.hasCompletedOnboarding());
    EXPECT_TRUE(stored.contextText().contains(QStringLiteral("resume.txt")));
    for (const QString& warning : qml.warnings())
        EXPECT_FALSE(warning.contains(secret)) << "the key is never logged";
    EXPECT_TRUE(qml.warnings().isEmpty()) << qPrintable(qml.warnings().join(u'\n'));
}

} // namespace
