#include "session/SessionReview.h"
#include "support/FakeSession.h"
#include "support/QmlHarness.h"
#include "support/TestFiles.h"
#include "support/TestHome.h"
#include "ui/AppearanceController.h"
#include "ui/CommandMenuModel.h"
#include "ui/Commands.h"
#include "ui/DesktopColorScheme.h"
#include "ui/DisplayPlatform.h"
#include "ui/FileChooser.h"
#include "ui/WindowConfigurator.h"
#include "ui/WindowFrame.h"

#include <QDBusVariant>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

namespace {

using Appearance = AppSettings::Appearance;

TEST(Shell, FrameTextReadsAndWritesTheStoredForm) {
    EXPECT_EQ(WindowFrame::format(QRect(-40, 25, 480, 760)),
              QStringLiteral("{{-40, 25}, {480, 760}}"));
    const struct {
        const char* text;
        std::optional<QRect> restored;
    } rows[] = {
        {"{{100, 120}, {480, 760}}", QRect(100, 120, 480, 760)},
        {"{{-40, 25}, {480, 760}}", QRect(-40, 25, 480, 760)},
        {"{{10.4, 20.6}, {500.0, 600}}", QRect(10, 21, 500, 600)},
        {"{{0, 0}, {380, 300}}", QRect(0, 0, 380, 300)},
        {"{{0, 0}, {379, 500}}", std::nullopt},
        {"{{0, 0}, {500, 299}}", std::nullopt},
        {"{{1, 2}, {3}}", std::nullopt},
        {"{{1, 2}, {480, 760}} trailing", std::nullopt},
        {"480x760", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(WindowFrame::restorable(QString::fromUtf8(row.text)), row.restored) << row.text;
}

TEST(Shell, CommandsChangeTheSettingsWithinTheirBounds) {
    const struct {
        const char* command;
        double size;
        Appearance appearance;
        double expectedSize;
        const char* expectedFamily;
        Appearance expectedAppearance;
    } rows[] = {
        {"biggerText", 36, Appearance::system, 36, "Serif", Appearance::system},
        {"biggerText", 20, Appearance::system, 21, "Serif", Appearance::system},
        {"smallerText", 10, Appearance::system, 10, "Serif", Appearance::system},
        {"smallerText", 20, Appearance::system, 19, "Serif", Appearance::system},
        {"resetTextSize", 30, Appearance::system, 14, "", Appearance::system},
        {"toggleAppearance", 14, Appearance::system, 14, "Serif", Appearance::dark},
        {"toggleAppearance", 14, Appearance::dark, 14, "Serif", Appearance::light},
        {"toggleAppearance", 14, Appearance::light, 14, "Serif", Appearance::dark},
        {"appearance.system", 14, Appearance::dark, 14, "Serif", Appearance::system},
        {"appearance.light", 14, Appearance::dark, 14, "Serif", Appearance::light},
    };
    for (const auto& row : rows) {
        TestHome home;
        AppSettings settings(home.configHome() + QStringLiteral("/Corvinel/Corvinel.conf"));
        settings.setFontSize(row.size);
        settings.setFontFamily(QStringLiteral("Serif"));
        settings.setAppearance(row.appearance);
        Commands commands;
        commands.setSettings(&settings);
        commands.trigger(QString::fromUtf8(row.command));
        EXPECT_EQ(settings.fontSize(), row.expectedSize) << row.command << " at " << row.size;
        EXPECT_EQ(settings.fontFamily(), QString::fromUtf8(row.expectedFamily)) << row.command;
        EXPECT_EQ(settings.appearance(), row.expectedAppearance) << row.command;
    }
}

TEST(Shell, TheMenuListsEveryCommandWithItsShortcut) {
    const QList<QPair<QString, QString>> expected = {
        {QStringLiteral("Check for Updates…"), QString()},
        {QStringLiteral("Ask About the Screen"), QStringLiteral("Shift+Ctrl+S")},
        {QStringLiteral("Pick an Area…"), QStringLiteral("Shift+Ctrl+Alt+S")},
        {QStringLiteral("Transcribe Recording…"), QStringLiteral("Ctrl+O")},
        {QStringLiteral("Open Session Review…"), QStringLiteral("Shift+Ctrl+O")},
        {QStringLiteral("Always on Top"), QStringLiteral("Shift+Ctrl+T")},
        {QStringLiteral("Appearance"), QString()},
        {QStringLiteral("Match system"), QString()},
        {QStringLiteral("Light"), QString()},
        {QStringLiteral("Dark"), QString()},
        {QStringLiteral("Toggle Light / Dark"), QStringLiteral("Shift+Ctrl+L")},
        {QStringLiteral("Bigger Text"), QStringLiteral("Ctrl++")},
        {QStringLiteral("Smaller Text"), QStringLiteral("Ctrl+-")},
        {QStringLiteral("Reset Text Size"), QStringLiteral("Ctrl+0")},
    };
    TestHome home;
    AppSettings settings(home.configHome() + QStringLiteral("/Corvinel/Corvinel.conf"));
    Commands commands;
    commands.setSettings(&settings);
    CommandMenuModel& menu = *commands.menu();
    ASSERT_EQ(menu.rowCount(), expected.size());
    auto value = [&menu](int row, CommandMenuModel::Role role) {
        return menu.data(menu.index(row), role);
    };
    for (int row = 0; row < menu.rowCount(); ++row) {
        EXPECT_EQ(value(row, CommandMenuModel::TextRole).toString(), expected[row].first);
        EXPECT_EQ(value(row, CommandMenuModel::ShortcutTextRole).toString(), expected[row].second);
    }
    EXPECT_TRUE(value(0, CommandMenuModel::EnabledRole).toBool());
    EXPECT_EQ(value(11, CommandMenuModel::ShortcutsRole).toStringList(),
              (QStringList{QStringLiteral("Ctrl+="), QStringLiteral("Ctrl++")}));

    // Check marks follow the settings.
    settings.setAlwaysOnTop(false);
    settings.setAppearance(Appearance::light);
    auto checked = [&](int row) { return value(row, CommandMenuModel::CheckedRole).toBool(); };
    EXPECT_EQ((QList<bool>{checked(5), checked(7), checked(8), checked(9)}),
              (QList<bool>{false, false, true, false}));
    settings.setAlwaysOnTop(true);
    commands.trigger(QStringLiteral("appearance.dark"));
    EXPECT_EQ((QList<bool>{checked(5), checked(7), checked(8), checked(9)}),
              (QList<bool>{true, false, false, true}));
}

TEST(Shell, AWaylandSessionGoesThroughXWaylandUnlessAskedOrImpossible) {
    const struct {
        DisplayPlatform::Environment environment;
        bool nativeWayland;
        bool xcb;
    } rows[] = {
        {{"", "wayland", "wayland-0", ":0"}, false, true},
        {{"", "wayland", "", ":0"}, false, true},
        {{"", "", "wayland-0", ":0"}, false, true},
        {{"", "wayland", "wayland-0", ":0"}, true, false},
        {{"wayland", "wayland", "wayland-0", ":0"}, false, false},
        {{"", "wayland", "wayland-0", ""}, false, false},
        {{"", "x11", "", ":0"}, false, false},
        {{"", "tty", "", ""}, false, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(DisplayPlatform::preferXcb(row.environment, row.nativeWayland), row.xcb)
            << row.environment.qpaPlatform.constData() << '|'
            << row.environment.sessionType.constData() << '|'
            << row.environment.waylandDisplay.constData() << '|'
            << row.environment.display.constData() << '|' << row.nativeWayland;
}

TEST(Shell, TheDesktopColorSchemeMapsToLightOrDark) {
    const struct {
        QVariant value;
        std::optional<bool> dark;
    } rows[] = {
        {QVariant(1u), true},
        {QVariant(0u), false},
        {QVariant(2u), false},
        {QVariant::fromValue(QDBusVariant(QVariant(1u))), true},
        {QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant(1u))))), true},
        {QVariant::fromValue(QDBusVariant(QVariant(2u))), false},
        {QVariant(QStringLiteral("dark")), std::nullopt},
        {QVariant(), std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(DesktopColorScheme::prefersDark(row.value), row.dark) << row.value.typeName();

    EXPECT_TRUE(AppearanceController::isDark(Appearance::dark, false));
    EXPECT_FALSE(AppearanceController::isDark(Appearance::light, true));
    EXPECT_TRUE(AppearanceController::isDark(Appearance::system, true));
    EXPECT_FALSE(AppearanceController::isDark(Appearance::system, false));
}

TEST(Shell, TheFileChooserReadsFiltersAndFallsBackWithoutAPortal) {
    const struct {
        const char* nameFilter;
        const char* name;
        QStringList patterns;
    } rows[] = {
        {"WAV audio (*.wav *.WAV)", "WAV audio", {"*.wav", "*.WAV"}},
        {"Documents (*.txt *.md *.pdf *.rtf)", "Documents", {"*.txt", "*.md", "*.pdf", "*.rtf"}},
        {"(*.wav)", "*.wav", {"*.wav"}},
        {"*.txt", "*.txt", {"*.txt"}},
    };
    for (const auto& row : rows) {
        const FileChooser::Filter filter =
            FileChooser::parseNameFilter(QString::fromUtf8(row.nameFilter));
        EXPECT_EQ(filter.name, QString::fromUtf8(row.name)) << row.nameFilter;
        EXPECT_EQ(filter.patterns, row.patterns) << row.nameFilter;
    }

    // Tests run without a session bus: the view's own dialog is asked for, then its answer
    // comes back as paths.
    FileChooser chooser;
    QSignalSpy fallback(&chooser, &FileChooser::fallbackRequested);
    QSignalSpy chosen(&chooser, &FileChooser::chosen);
    chooser.open(QStringLiteral("Transcribe Recording"), {QStringLiteral("WAV audio (*.wav)")},
                 false);
    ASSERT_TRUE(fallback.wait());
    EXPECT_EQ(chooser.nameFilters(), QStringList{QStringLiteral("WAV audio (*.wav)")});
    chooser.acceptUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a b.wav"))});
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toStringList(), QStringList{QStringLiteral("/tmp/a b.wav")});
}

struct LoadedWindow {
    explicit LoadedWindow(TestHome& home)
        : fake(home.configHome(), home.path() + QStringLiteral("/Documents/Corvinel")) {
        root = qml.loadMain(*fake.controller, fake.settings);
        if (!root)
            return;
        // Offscreen is not xcb; its windows do report their place, so track it as xcb would.
        root->findChild<WindowConfigurator*>(QStringLiteral("windowConfigurator"))
            ->setTracksFrame(true);
    }
    FakeSession fake;
    QmlHarness qml;
    QObject* root = nullptr;
};

QString storedFrame() {
    return QSettings(AppSettings::defaultPath(), QSettings::IniFormat)
        .value(QStringLiteral("mainWindowFrame"))
        .toString();
}

TEST(Shell, TheWindowRemembersWhereItWasMovedAndOpensThereNextTime) {
    TestHome home;
    {
        LoadedWindow loaded(home);
        ASSERT_NE(loaded.root, nullptr) << qPrintable(loaded.qml.warnings().join(u'\n'));
        QQuickWindow* window = loaded.qml.window();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        window->setGeometry(210, 160, 500, 640);
        EXPECT_TRUE(QTest::qWaitFor([] {
            return storedFrame() == QStringLiteral("{{210, 160}, {500, 640}}");
        })) << qPrintable(storedFrame());
        EXPECT_TRUE(loaded.qml.warnings().isEmpty())
            << qPrintable(loaded.qml.warnings().join(u'\n'));
    }
    LoadedWindow next(home);
    ASSERT_NE(next.root, nullptr);
    QQuickWindow* window = next.qml.window();
    EXPECT_TRUE(QTest::qWaitFor([window] {
        return window->geometry() == QRect(210, 160, 500, 640);
    })) << window->geometry().x()
        << ',' << window->geometry().y() << ' ' << window->geometry().width() << 'x'
        << window->geometry().height();
}

TEST(Shell, ATooSmallStoredFrameIsIgnoredAndTheAppearanceAppliesLive) {
    TestHome home;
    QSettings(AppSettings::defaultPath(), QSettings::IniFormat)
        .setValue(QStringLiteral("mainWindowFrame"), QStringLiteral("{{30, 40}, {379, 500}}"));
    LoadedWindow loaded(home);
    ASSERT_NE(loaded.root, nullptr);
    QQuickWindow* window = loaded.qml.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QTest::qWait(2 * 300); // nothing to await: both restores are due by then and must not act
    EXPECT_EQ(window->size(), QSize(480, 760));

    loaded.fake.settings.setAppearance(Appearance::dark);
    EXPECT_TRUE(QTest::qWaitFor([] {
        return QGuiApplication::palette().color(QPalette::Window) ==
               AppearanceController::darkPalette().color(QPalette::Window);
    }));
    loaded.fake.settings.setAppearance(Appearance::light);
    EXPECT_TRUE(QTest::qWaitFor([] {
        return QGuiApplication::palette().color(QPalette::Window) ==
               AppearanceController::lightPalette().color(QPalette::Window);
    }));
}

// No frame of the window shows in other colours than its own: the stored appearance applies as
// the window is made, not on a later turn of the event loop.
TEST(Shell, TheFirstFrameHasTheStoredAppearance) {
    TestHome home;
    QGuiApplication::setPalette(AppearanceController::lightPalette());
    FakeSession fake(home.configHome(), home.path() + QStringLiteral("/Documents/Corvinel"));
    fake.settings.setAppearance(Appearance::dark);
    QmlHarness qml;
    ASSERT_NE(qml.loadMain(*fake.controller, fake.settings), nullptr);
    QQuickWindow* window = qml.window();
    std::optional<QColor> firstFrame;
    QObject::connect(window, &QQuickWindow::beforeRendering, window, [&] {
        if (!firstFrame)
            firstFrame = window->color();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return firstFrame.has_value(); }));
    EXPECT_EQ(*firstFrame, AppearanceController::darkPalette().color(QPalette::Window));
}

TEST(Shell, TheAnswerBoxFillStandsApartFromTheWindowInBothPalettes) {
    for (const QPalette& palette :
         {AppearanceController::lightPalette(), AppearanceController::darkPalette()}) {
        const int window = palette.color(QPalette::Window).lightness();
        const int box = palette.color(QPalette::Midlight).lightness();
        EXPECT_GE(std::abs(box - window), 12) << window;
        EXPECT_LE(std::abs(box - window), 40) << window; // subtle, not a block
    }
}

TEST(Shell, TheWindowBindsEveryShortcutAndTheMenuButtonShowsEveryCommand) {
    TestHome home;
    LoadedWindow loaded(home);
    ASSERT_NE(loaded.root, nullptr);
    QQuickWindow* window = loaded.qml.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    AppSettings& settings = loaded.fake.settings;
    settings.setFontSize(20);
    settings.setAppearance(Appearance::system);
    settings.setAlwaysOnTop(false);
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        double size;
        Appearance appearance;
        bool onTop;
    } presses[] = {
        {Qt::Key_Equal, Qt::ControlModifier, 21, Appearance::system, false},
        {Qt::Key_Plus, Qt::ControlModifier, 22, Appearance::system, false},
        {Qt::Key_Minus, Qt::ControlModifier, 21, Appearance::system, false},
        {Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier, 21, Appearance::dark, false},
        {Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier, 21, Appearance::dark, true},
        {Qt::Key_0, Qt::ControlModifier, 14, Appearance::dark, true},
    };
    for (const auto& press : presses) {
        QTest::keyClick(window, press.key, press.modifiers);
        EXPECT_EQ(settings.fontSize(), press.size) << press.key;
        EXPECT_EQ(settings.appearance(), press.appearance) << press.key;
        EXPECT_EQ(settings.alwaysOnTop(), press.onTop) << press.key;
    }

    // The button the control bar shows: its menu holds one item per row, with the row's text.
    Commands* commands = loaded.root->findChild<Commands*>();
    ASSERT_NE(commands, nullptr);
    QQmlComponent component(&loaded.qml.engine(),
                            QUrl(QStringLiteral("qrc:/Corvinel/CommandsMenu.qml")));
    std::unique_ptr<QObject> button(component.createWithInitialProperties(
        {{QStringLiteral("commands"), QVariant::fromValue(commands)}}));
    ASSERT_NE(button, nullptr) << qPrintable(component.errorString());
    qobject_cast<QQuickItem*>(button.get())->setParentItem(window->contentItem());
    QMetaObject::invokeMethod(button.get(), "clicked");
    // QTRY_* only reports through QTest's own logger, which a gtest run never reads.
    QObject* menu = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            menu = button->findChild<QObject*>(QString(), Qt::FindDirectChildrenOnly);
            return menu && menu->property("count").toInt() > 0;
        },
        5000));
    EXPECT_EQ(menu->property("count").toInt(), commands->menu()->rowCount());
    EXPECT_NE(loaded.qml.findByAccessibleName(QStringLiteral("Reset Text Size")), nullptr);
    EXPECT_TRUE(loaded.qml.warnings().isEmpty()) << qPrintable(loaded.qml.warnings().join(u'\n'));
}

// "Open Session Review…" asks for an event log in the sessions folder (no portal in tests: the
// window's own dialog), and the one chosen gets its page, opened in the browser.
TEST(Shell, OpenSessionReviewChoosesALogInTheSessionsFolderAndOpensItsPage) {
    TestHome home;
    LoadedWindow loaded(home);
    ASSERT_NE(loaded.root, nullptr);
    QQuickWindow* window = loaded.qml.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const QString folder = loaded.fake.controller->sessionFolder();
    const QString log = folder + QStringLiteral("/meeting_x.events.jsonl");
    writeBytes(log, R"({"event":"session_started","t":0})");
    QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    const auto shownDialog = [&]() -> QObject* {
        for (QObject* object : loaded.root->findChildren<QObject*>())
            if (object->inherits("QQuickFileDialog") && object->property("visible").toBool())
                return object;
        return nullptr;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return shownDialog() != nullptr; }));
    // Every chooser names the window its dialog belongs to, this one's or another's.
    const QList<FileChooser*> choosers = loaded.root->findChildren<FileChooser*>();
    EXPECT_GE(choosers.size(), 2);
    for (const FileChooser* chooser : choosers) {
        const auto* item = qobject_cast<const QQuickItem*>(chooser->parent());
        ASSERT_NE(item, nullptr);
        EXPECT_NE(chooser->window(), nullptr);
        EXPECT_EQ(chooser->window(), item->window());
    }
    QObject* dialog = shownDialog();
    EXPECT_EQ(dialog->property("title").toString(), Commands::reviewChooserTitle());
    EXPECT_EQ(dialog->property("currentFolder").toUrl(), QUrl::fromLocalFile(folder));
    EXPECT_EQ(dialog->property("nameFilters").toStringList(), Commands::reviewFileFilters());

    loaded.root->findChild<Commands*>()->reviewChosen({log});
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return loaded.fake.revealer.opened == QStringList{SessionReview::pagePath(log)};
    })) << qPrintable(loaded.fake.revealer.opened.join(u' '));
    EXPECT_TRUE(loaded.qml.warnings().isEmpty()) << qPrintable(loaded.qml.warnings().join(u'\n'));
}

} // namespace
