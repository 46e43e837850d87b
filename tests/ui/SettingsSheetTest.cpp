#include "settings/SecretStore.h"
#include "support/FakeSession.h"
#include "support/QmlHarness.h"
#include "support/TestHome.h"
#include "ui/SettingsSheetModel.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMimeData>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using Sheet = SettingsSheetModel;

QStringList labels(const ChoiceList::Rows& rows) {
    QStringList out;
    for (const ChoiceList::Row& row : rows)
        out.append(row.label + (row.value.isValid() ? QString() : QStringLiteral(" [no value]")));
    return out;
}

AudioInputDevice input(const QString& uid, int channels) {
    AudioInputDevice device;
    device.uid = uid;
    device.name = uid.toUpper();
    device.channelCount = channels;
    return device;
}

AudioProcessInfo app(const QString& name, std::optional<uint32_t> object) {
    return {object, 42, QStringLiteral("org.") + name, name};
}

TEST(SettingsSheet, PickerRowsAndLabels) {
    const QList<AudioInputDevice> mono{input(QStringLiteral("mono"), 1)};
    const struct {
        const char* what;
        QStringList got;
        QStringList expected;
    } rows[] = {
        {"known model", labels(Sheet::modelRows(QStringLiteral("gpt-realtime-2"))),
         AppSettings::knownModels()},
        {"unknown model gets a row", labels(Sheet::modelRows(QStringLiteral("my-model"))),
         AppSettings::knownModels() + QStringList{QStringLiteral("my-model")}},
        {"no device: two channels",
         labels(Sheet::micChannelRows(Sheet::channelCount({}, {}))),
         {QStringLiteral("Channel 1"), QStringLiteral("Channel 2")}},
        {"meeting channel of a mono device",
         labels(Sheet::meetingChannelRows(Sheet::channelCount(mono, QStringLiteral("mono")))),
         {QStringLiteral("None (mic only)"), QStringLiteral("Channel 1")}},
        {"a stored device that is gone: two channels",
         labels(Sheet::micChannelRows(Sheet::channelCount(mono, QStringLiteral("usb")))),
         {QStringLiteral("Channel 1"), QStringLiteral("Channel 2")}},
        {"apps playing and not",
         labels(Sheet::appRows({app(QStringLiteral("Zoom"), 7), app(QStringLiteral("Slack"), {})})),
         {QStringLiteral("Zoom — playing now"), QStringLiteral("Slack")}},
        {"no apps", labels(Sheet::appRows({})), {QStringLiteral("No apps found [no value]")}},
        {"fonts: system first, families sorted",
         labels(Sheet::fontRows({QStringLiteral("b"), QStringLiteral("A")}, QString())),
         {QStringLiteral("System"), QStringLiteral("System Mono"), QStringLiteral("A"),
          QStringLiteral("b")}},
        {"the stored mono choice is listed once",
         labels(Sheet::fontRows({QStringLiteral("A")}, QStringLiteral("__mono"))),
         {QStringLiteral("System"), QStringLiteral("System Mono"), QStringLiteral("A")}},
        {"a stored family that is not installed",
         labels(Sheet::fontRows({QStringLiteral("A")}, QStringLiteral("Gone"))),
         {QStringLiteral("System"), QStringLiteral("System Mono"), QStringLiteral("A"),
          QStringLiteral("Gone")}},
        {"follow-up stepper",
         {Sheet::followUpLabel(0), Sheet::followUpLabel(1), Sheet::followUpLabel(20)},
         {QStringLiteral("Merge follow-ups: off"), QStringLiteral("Merge follow-ups within 1s"),
          QStringLiteral("Merge follow-ups within 20s")}},
        {"answer speed: what it does, and where it does nothing",
         {Sheet::answerSpeedCaption(QStringLiteral("gpt-realtime-2.1-mini")),
          Sheet::answerSpeedCaption(QStringLiteral("gpt-realtime-1.5"))},
         {QStringLiteral("Fastest answers soonest; Thorough thinks longer before it answers."),
          QStringLiteral("The chosen model always answers at its own pace.")}},
        {"answer language: the interviewer's first, and every row stores a value",
         labels(Sheet::answerLanguageRows()),
         QStringList{QStringLiteral("The interviewer's language")} +
             AppSettings::answerLanguages()},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.got, row.expected) << row.what;
    EXPECT_NE(Sheet::followUpLabel(0.5), Sheet::followUpLabel(0)) << "half a second is on";
    EXPECT_EQ(Sheet::meetingChannelRows(1).first().value, QVariant(-1));
    EXPECT_EQ(Sheet::micChannelRows(2).last().value, QVariant(1));
}

TEST(SettingsSheet, KeyCaptionGivesTheLengthAndTheRealFolder) {
    TestHome home;
    home.setEnv("XDG_DATA_HOME", (home.path() + QStringLiteral("/.local/share")).toUtf8());
    home.setEnv("HOME", home.path().toUtf8());
    home.setEnv("OV_REALTIME_URL", std::nullopt);
    EXPECT_EQ(Sheet::keyCaption(51),
              QStringLiteral("Key held on this computer (51 chars), 0600 file in "
                             "~/.local/share/Corvinel. Sent only to api.openai.com over TLS."));
    EXPECT_TRUE(Sheet::keyCaption(1).startsWith(QStringLiteral("Key held")));
    EXPECT_EQ(Sheet::keyCaption(0),
              QStringLiteral("Stored on this computer only, in a 0600 file under "
                             "~/.local/share/Corvinel. Falls back to the OPENAI_API_KEY "
                             "environment variable."));
}

struct SheetFixture : ::testing::Test {
    TestHome home;
    FakeSession fake{home.configHome(), home.path() + QStringLiteral("/Documents/Corvinel")};
    Sheet sheet;
    SheetFixture() {
        sheet.setDeviceLister([] { return DeviceSnapshot{}; });
        sheet.setSettings(&fake.settings);
        sheet.setSession(fake.controller.get());
    }
    // What a fresh process reads from the same file.
    std::unique_ptr<AppSettings> reread() const {
        return std::make_unique<AppSettings>(home.configHome() +
                                             QStringLiteral("/Corvinel/Corvinel.conf"));
    }
};

TEST_F(SheetFixture, KeyThatCannotBeKeptIsToldUnderTheField) {
    QSignalSpy labels(&sheet, &Sheet::labelsChanged);
    ASSERT_TRUE(QDir().mkpath(SecretStore::keyFilePath())); // in the way of the file
    fake.settings.setApiKey(QStringLiteral("sk-1"));
    ASSERT_FALSE(fake.settings.apiKeySaveError().isEmpty());
    EXPECT_EQ(sheet.keyCaption(), fake.settings.apiKeySaveError());
    const qsizetype told = labels.size();
    ASSERT_TRUE(QDir(SecretStore::keyFilePath()).removeRecursively());
    fake.settings.setApiKey(QStringLiteral("sk-1"));
    EXPECT_EQ(sheet.keyCaption(), Sheet::keyCaption(4));
    EXPECT_GT(labels.size(), told) << "the caption follows the save, not only the key";
}

TEST_F(SheetFixture, ActionsStoreWhatAFreshProcessReadsBack) {
    fake.settings.setFontSize(30);
    fake.settings.setFontFamily(QStringLiteral("Serif"));
    fake.settings.setSystemPrompt(QStringLiteral("Be terse."));
    fake.settings.setContextText(QStringLiteral("CV text"));
    fake.settings.setContextFileNames({QStringLiteral("cv.pdf")});
    fake.settings.setAnswerLanguage(QStringLiteral("German"));
    EXPECT_EQ(sheet.answerLanguage()->labels().value(sheet.answerLanguage()->currentIndex()),
              QStringLiteral("German"));

    sheet.setCustomModel(QStringLiteral(" \t my-model \t"));
    sheet.useCustomModel();
    EXPECT_EQ(sheet.customModel(), QString()) << "the field empties";
    sheet.setCustomModel(QStringLiteral(" \t "));
    sheet.useCustomModel();
    EXPECT_EQ(sheet.customModel(), QStringLiteral(" \t ")) << "all blank: nothing happens";
    EXPECT_EQ(sheet.realtimeModel()->labels().last(), QStringLiteral("my-model"));
    EXPECT_EQ(sheet.realtimeModel()->currentIndex(), AppSettings::knownModels().size());

    sheet.setVadThreshold(0.1 + 5 * 0.05); // as a slider computes 0.35
    sheet.resetFont();
    sheet.resetPrompt();
    EXPECT_TRUE(sheet.canClearContext());
    sheet.clearContext();
    sheet.streamSource()->select(2);
    sheet.meetingChannel()->select(0);
    sheet.answerLength()->select(0);
    sheet.answerLanguage()->select(0);

    const auto stored = reread();
    EXPECT_EQ(stored->model(), QStringLiteral("my-model"));
    EXPECT_EQ(stored->vadThreshold(), 0.35);
    EXPECT_EQ(stored->fontSize(), 14);
    EXPECT_EQ(stored->fontFamily(), QString());
    EXPECT_EQ(stored->systemPrompt(), AppSettings::defaultSystemPrompt());
    EXPECT_EQ(stored->contextText(), QString());
    EXPECT_EQ(stored->contextFileNames(), QStringList());
    EXPECT_EQ(stored->streamSource(), AppSettings::StreamSource::both);
    EXPECT_EQ(stored->meetingChannel(), -1);
    EXPECT_EQ(stored->answerLength(), AppSettings::AnswerLength::brief);
    EXPECT_EQ(stored->answerLanguage(), QString());
    EXPECT_EQ(sheet.streamCaption(),
              QStringLiteral("Your microphone audio IS being streamed to OpenAI in this mode."));
    EXPECT_EQ(sheet.contextFilesText(), QStringLiteral("No context documents loaded."));
    EXPECT_FALSE(sheet.canClearContext());
}

TEST_F(SheetFixture, ListsArriveOffTheGuiThreadAndNoAppRowStoresNothing) {
    sheet.setDeviceLister([] {
        return DeviceSnapshot{{input(QStringLiteral("mic"), 1), input(QStringLiteral("usb"), 4)},
                              std::nullopt};
    });
    fake.settings.setDeviceUID(QStringLiteral("usb"));
    fake.settings.setTappedBundleID(QStringLiteral("org.Zoom"));
    QSignalSpy devices(&sheet, &Sheet::devicesListed);
    QSignalSpy apps(&sheet, &Sheet::appsListed);
    sheet.setShown(true);
    ASSERT_TRUE(devices.wait() || devices.size() == 1);
    ASSERT_TRUE(apps.size() == 1 || apps.wait());
    EXPECT_EQ(sheet.microphone()->labels(),
              (QStringList{QStringLiteral("MIC"), QStringLiteral("USB")}));
    EXPECT_EQ(sheet.microphone()->currentIndex(), 1);
    EXPECT_EQ(sheet.micChannel()->labels().size(), 4) << "the chosen device's channels";
    sheet.microphone()->select(0);
    EXPECT_EQ(sheet.micChannel()->labels().size(), 1) << "follows the device";
    EXPECT_EQ(sheet.listenTo()->labels(), QStringList{QStringLiteral("No apps found")});
    sheet.listenTo()->select(0);
    EXPECT_EQ(fake.settings.tappedBundleID(), QStringLiteral("org.Zoom"));

    fake.apps.apps = {app(QStringLiteral("Zoom"), 3)};
    sheet.rescanApps();
    ASSERT_TRUE(apps.wait());
    EXPECT_EQ(sheet.listenTo()->currentIndex(), 0);
}

TEST_F(SheetFixture, ClearFeedEmptiesTheCardsAndCopyPutsPlainTextOnTheClipboard) {
    fake.settings.setApiKey(QStringLiteral("sk-test"));
    fake.controller->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.controller->isSessionActive(); }));
    fake.client.onTranscript(QStringLiteral("item1"), QStringLiteral("Why this role?"));
    fake.client.onDelta(QStringLiteral("r1"), QStringLiteral("Because it ships."));
    fake.client.onResponseDone(QStringLiteral("r1"));
    QGuiApplication::clipboard()->setText(QStringLiteral("old"));

    sheet.copyTranscript();
    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->formats(), QStringList{QStringLiteral("text/plain")});
    EXPECT_EQ(copied->text(), fake.controller->transcriptForExport());
    EXPECT_TRUE(copied->text().contains(QStringLiteral("Because it ships.")));

    sheet.clearFeed();
    EXPECT_TRUE(fake.controller->pairs().isEmpty());
    EXPECT_EQ(fake.controller->pairModel()->rowCount(), 0);
}

// The sheet as the user reaches it: from the gear and from the hearing button, a stepper that
// states its value, a segmented picker whose caption follows the model, and Return for "Done"
// (but not inside the prompt's editor).
TEST(SettingsSheetWindow, OpensFromTheBarStepsAndClosesOnReturn) {
    for (const char* opener : {"Settings", "Hearing"}) {
        TestHome home;
        FakeSession fake(home.configHome(), home.path() + QStringLiteral("/Documents/Corvinel"));
        fake.settings.setFollowUpWindow(0);
        QmlHarness qml;
        ASSERT_NE(qml.loadMain(*fake.controller, fake.settings), nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(qml.window()));
        fake.settings.setApiKey(QStringLiteral("sk-test"));
        fake.controller->start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return fake.controller->isSessionActive(); }));
        fake.controller->stop();
        QQuickItem* button = qml.waitForAccessibleName(QString::fromUtf8(opener));
        ASSERT_NE(button, nullptr) << opener;
        QmlHarness::click(button);
        QQuickItem* done = qml.waitForAccessibleName(QStringLiteral("Done"));
        ASSERT_NE(done, nullptr) << opener;
        QQuickWindow* sheet = done->window();
        ASSERT_NE(sheet, qml.window());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
        EXPECT_GE(sheet->width(), 400);
        EXPECT_GE(sheet->height(), 420);

        ASSERT_NE(qml.waitForAccessibleName(QStringLiteral("Merge follow-ups: off")), nullptr);
        QQuickItem* stepper = qml.findByAccessibleName(QStringLiteral("Merge follow-ups"));
        ASSERT_NE(stepper, nullptr);
        stepper->forceActiveFocus();
        QTest::keyClick(sheet, Qt::Key_Up);
        EXPECT_EQ(fake.settings.followUpWindow(), 1);
        EXPECT_NE(qml.waitForAccessibleName(QStringLiteral("Merge follow-ups within 1s")), nullptr);

        QQuickItem* thorough = qml.findByAccessibleName(QStringLiteral("Thorough"));
        ASSERT_NE(thorough, nullptr);
        thorough->forceActiveFocus();
        QTest::keyClick(sheet, Qt::Key_Space);
        EXPECT_EQ(fake.settings.answerSpeed(), AppSettings::AnswerSpeed::thorough);
        QQuickItem* detailed = qml.findByAccessibleName(QStringLiteral("Detailed"));
        ASSERT_NE(detailed, nullptr);
        detailed->forceActiveFocus();
        QTest::keyClick(sheet, Qt::Key_Space);
        EXPECT_EQ(fake.settings.answerLength(), AppSettings::AnswerLength::detailed);
        EXPECT_NE(qml.findByAccessibleName(QStringLiteral("Language")), nullptr);
        fake.settings.setModel(QStringLiteral("gpt-realtime-1.5"));
        EXPECT_NE(qml.waitForAccessibleName(Sheet::answerSpeedCaption(fake.settings.model())),
                  nullptr);

        QQuickItem* prompt = qml.findByAccessibleName(QStringLiteral("System prompt"));
        ASSERT_NE(prompt, nullptr);
        prompt->forceActiveFocus();
        QTest::keyClick(sheet, Qt::Key_Return);
        EXPECT_TRUE(sheet->isVisible()) << "Return in the editor is a new line";

        done->forceActiveFocus();
        QTest::keyClick(sheet, Qt::Key_Return);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !sheet->isVisible(); })) << opener;
        QmlHarness::click(button);
        EXPECT_TRUE(QTest::qWaitFor([&] { return sheet->isVisible(); })) << "opens again";
        EXPECT_TRUE(qml.warnings().isEmpty()) << qPrintable(qml.warnings().join(u'\n'));
    }
}

} // namespace
