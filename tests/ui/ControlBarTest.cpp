#include "context/ContextLoader.h"
#include "settings/Graphemes.h"
#include "support/FakeSession.h"
#include "support/QmlHarness.h"
#include "support/TestHome.h"
#include "ui/BannerModel.h"
#include "ui/ControlBarLabels.h"
#include "ui/ControlBarModel.h"
#include "ui/DeviceRefresher.h"
#include "ui/LevelMeterModel.h"
#include "ui/SpeakingTimerModel.h"
#include "ui/StatusPillModel.h"
#include "ui/Tones.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <QtQuickTest/quicktest.h>
#include <functional>
#include <gtest/gtest.h>

namespace {

using Inputs = ControlBarLabels::Inputs;
using State = ControlBarLabels::State;
using Source = AppSettings::MeetingSource;

AudioInputDevice device(const QString& uid, const QString& name) {
    AudioInputDevice d;
    d.uid = uid;
    d.name = name;
    return d;
}

// 22 characters in three words; a name of 19, the shortest that is cut; one of 18.
const AudioInputDevice kLongName =
    device(QStringLiteral("long"), QStringLiteral("Studio Condenser Array"));
const AudioInputDevice kCutName =
    device(QStringLiteral("cut"), QStringLiteral("USB Audio Device XY"));
const AudioInputDevice kShortName =
    device(QStringLiteral("short"), QStringLiteral("USB Audio Device X"));

struct LabelRow {
    const char* what;
    std::function<void(Inputs&)> given;
    std::function<QVariant(const State&)> read;
    QVariant expected;
};

QVariant label(QString State::*field, const State& s) {
    return s.*field;
}

TEST(ControlBarLabels, FollowTheSessionAndTheSettings) {
    const auto text = [](QString State::*field) {
        return [field](const State& s) { return label(field, s); };
    };
    const auto flag = [](bool State::*field) {
        return [field](const State& s) { return QVariant(s.*field); };
    };
    const auto active = [](Inputs& in) { in.sessionActive = true; };
    const auto withDevices = [](const QString& uid) {
        return [uid](Inputs& in) {
            in.devices = {kShortName, kCutName, kLongName};
            in.deviceUID = uid;
        };
    };
    const auto deviceSource = [](const QString& uid, int channel) {
        return [uid, channel](Inputs& in) {
            in.meetingSource = Source::audioDevice;
            in.devices = {kLongName};
            in.deviceUID = uid;
            in.meetingChannel = channel;
        };
    };
    const QString kSummary = QStringLiteral("$0.12 this session · $0.06/min · 1234 tokens");
    const auto running = [kSummary](Inputs& in) {
        in.sessionActive = true;
        in.costSummary = kSummary;
        in.sessionCost = 0.1234;
    };
    const std::vector<LabelRow> rows = {
        {"idle start", [](Inputs&) {}, text(&State::startLabel), "Start"},
        {"running stop", active, text(&State::startLabel), "Stop"},
        {"running red", active, [](const State& s) { return QVariant(s.startColor); },
         QVariant(Tones::red())},
        {"save audio locked while running", active, flag(&State::saveAudioEnabled), false},
        {"save audio free when idle", [](Inputs&) {}, flag(&State::saveAudioEnabled), true},
        {"show files hidden while running",
         [](Inputs& in) { in.sessionActive = in.hasLastRecording = true; },
         flag(&State::showFilesVisible), false},
        {"show files after a recording", [](Inputs& in) { in.hasLastRecording = true; },
         flag(&State::showFilesVisible), true},
        {"show files after a transcript", [](Inputs& in) { in.hasLastTranscript = true; },
         flag(&State::showFilesVisible), true},
        {"no files nothing to show", [](Inputs&) {}, flag(&State::showFilesVisible), false},
        {"clock hidden at zero", [](Inputs&) {}, flag(&State::clockVisible), false},
        {"clock 3599", [](Inputs& in) { in.sessionElapsed = 3599; }, text(&State::clockText),
         "59:59"},
        {"clock 3600", [](Inputs& in) { in.sessionElapsed = 3600; }, text(&State::clockText),
         "1:00:00"},
        {"cost while running", running, text(&State::costText), "$0.12"},
        {"short cost below a cent",
         [](Inputs& in) {
             in.sessionActive = true;
             in.costSummary = QStringLiteral("$0.0080 this session · $0.04/min · 1743 tokens");
             in.sessionCost = 0.008;
         },
         text(&State::costText), "$0.0080"},
        {"full cost as help", running, text(&State::costHelp), kSummary},
        {"no cost when idle", [](Inputs& in) { in.costSummary = QStringLiteral("$0.12"); },
         flag(&State::costVisible), false},
        {"answer 2.5 s leaves nothing", [](Inputs& in) { in.lastAnswerDuration = 2.5; },
         flag(&State::lastAnswerVisible), false},
        {"answer 3 s", [](Inputs& in) { in.lastAnswerDuration = 3; }, text(&State::lastAnswerText),
         "last 3s"},
        {"answer 75 s", [](Inputs& in) { in.lastAnswerDuration = 75; },
         text(&State::lastAnswerText), "last 1:15"},
        {"answer 42 s", [](Inputs& in) { in.lastAnswerDuration = 42; },
         text(&State::lastAnswerText), "last 42s"},
        {"no last while answering",
         [](Inputs& in) {
             in.lastAnswerDuration = 42;
             in.answering = true;
         },
         flag(&State::lastAnswerVisible), false},
        {"timer while answering", [](Inputs& in) { in.answering = true; },
         flag(&State::answerTimerVisible), true},
        {"mic not sent", [](Inputs&) {}, text(&State::micMeterLabel), "Mic⊘"},
        {"mic not sent help", [](Inputs&) {}, text(&State::micMeterHelp),
         "Mic is monitored and recorded locally, but not sent to the model"},
        {"mic sent", [](Inputs& in) { in.streamSource = AppSettings::StreamSource::both; },
         text(&State::micMeterLabel), "Mic"},
        {"mic sent help", [](Inputs& in) { in.streamSource = AppSettings::StreamSource::micOnly; },
         text(&State::micMeterHelp), "Mic audio is streamed to the model"},
        {"dark shows moon", [](Inputs& in) { in.appearance = AppSettings::Appearance::dark; },
         text(&State::themeSymbol), "🌙"},
        {"system shows sun", [](Inputs&) {}, text(&State::themeSymbol), "☀"},
        {"long device name cut", withDevices(QStringLiteral("long")), text(&State::micLabel),
         "Studio ch 1"},
        {"19 characters cut", withDevices(QStringLiteral("cut")), text(&State::micLabel),
         "USB ch 1"},
        {"18 characters stay", withDevices(QStringLiteral("short")), text(&State::micLabel),
         "USB Audio Device X ch 1"},
        {"no device default", withDevices(QString()), text(&State::micLabel), "Default ch 1"},
        {"this computer", [](Inputs&) {}, text(&State::meetingSourceLabel), "This computer"},
        {"no app picked", [](Inputs& in) { in.meetingSource = Source::singleApp; },
         text(&State::meetingSourceLabel), "Pick an app"},
        {"app from bundle",
         [](Inputs& in) {
             in.meetingSource = Source::singleApp;
             in.tappedBundleID = QStringLiteral("us.zoom.xos");
         },
         text(&State::meetingSourceLabel), "Xos"},
        {"device source", deviceSource(QStringLiteral("long"), 1), text(&State::meetingSourceLabel),
         "Studio ch 2"},
        {"unknown device source", deviceSource(QStringLiteral("gone"), 0),
         text(&State::meetingSourceLabel), "Device ch 1"},
        {"device source without channel", deviceSource(QStringLiteral("long"), -1),
         text(&State::meetingSourceLabel), "Studio"},
        {"hearing help", [](Inputs&) {}, text(&State::hearingHelp),
         "Hearing: This computer. Your voice: Default ch 1. Click to change."},
        {"heard output",
         [](Inputs& in) { in.heardOutput = QStringLiteral("Jabra Evolve2 65 Headset"); },
         text(&State::meetingSourceLabel), "Jabra"},
        {"heard output help",
         [](Inputs& in) { in.heardOutput = QStringLiteral("Jabra Evolve2 65 Headset"); },
         text(&State::hearingHelp),
         "Hearing: what plays on Jabra Evolve2 65 Headset. Your voice: Default ch 1. Click to "
         "change."},
        {"app ignores heard output",
         [](Inputs& in) {
             in.meetingSource = Source::singleApp;
             in.tappedBundleID = QStringLiteral("us.zoom.xos");
             in.heardOutput = QStringLiteral("Speakers");
         },
         text(&State::hearingHelp), "Hearing: Xos. Your voice: Default ch 1. Click to change."},
        {"job default", [](Inputs&) {}, text(&State::jobLabel), "Job"},
        {"job company", [](Inputs& in) { in.companyName = QStringLiteral("Acme"); },
         text(&State::jobLabel), "Acme"},
        {"no context", [](Inputs&) {}, text(&State::contextLabel), "Context"},
        {"two files", [](Inputs& in) { in.contextFileCount = 2; }, text(&State::contextLabel),
         "Context (2)"},
    };
    for (const LabelRow& row : rows) {
        Inputs in;
        row.given(in);
        EXPECT_EQ(row.read(ControlBarLabels::compute(in)), row.expected) << row.what;
    }
}

TEST(ControlBarWidgets, TimerMeterPillAndBannerRules) {
    struct TimerRow {
        double elapsed;
        QColor color;
    };
    for (const TimerRow& row : {TimerRow{44, Tones::green()}, TimerRow{45, Tones::orange()},
                                TimerRow{89, Tones::orange()}, TimerRow{90, Tones::red()}})
        EXPECT_EQ(SpeakingTimerModel::colorFor(row.elapsed), row.color) << row.elapsed;

    struct MeterRow {
        double level;
        double fill;
        QColor color;
    };
    for (const MeterRow& row :
         {MeterRow{0.95, 0.95, Tones::red()}, MeterRow{0.9, 0.9, Tones::green()},
          MeterRow{1.7, 1.0, Tones::red()}, MeterRow{-0.2, 0.0, Tones::green()}}) {
        EXPECT_DOUBLE_EQ(LevelMeterModel::fillFraction(row.level), row.fill) << row.level;
        EXPECT_EQ(LevelMeterModel::colorFor(row.level), row.color) << row.level;
    }
    // Less than a point of the bar is not worth a frame, except coming to rest at an end.
    struct RepaintRow {
        double shown, fill;
        bool repaint;
    };
    for (const RepaintRow& row :
         {RepaintRow{0.5, 0.51, false}, RepaintRow{0.5, 0.53, true}, RepaintRow{0.5, 0.47, true},
          RepaintRow{0.02, 0.0, true}, RepaintRow{0.99, 1.0, true}, RepaintRow{0.4, 0.4, false}})
        EXPECT_EQ(LevelMeterModel::worthRepainting(row.shown, row.fill), row.repaint)
            << row.shown << " → " << row.fill;

    using Kind = SessionController::StatusKind;
    struct PillRow {
        Kind kind;
        const char* label;
        QColor color;
    };
    for (const PillRow& row : {PillRow{Kind::idle, "Idle", Tones::secondary()},
                               PillRow{Kind::connecting, "Connecting…", Tones::orange()},
                               PillRow{Kind::connected, "Live", Tones::green()},
                               PillRow{Kind::reconnecting, "Reconnecting…", Tones::orange()},
                               PillRow{Kind::failed, "Error", Tones::red()}}) {
        EXPECT_EQ(StatusPillModel::label(row.kind), QString::fromUtf8(row.label));
        EXPECT_EQ(StatusPillModel::dotColor(row.kind), row.color) << row.label;
    }
    StatusPillModel pill;
    QSignalSpy pillChanged(&pill, &StatusPillModel::statusChanged);
    pill.setStatus(int(Kind::failed));
    EXPECT_EQ(pill.label(), QStringLiteral("Error"));
    pill.setStatus(int(Kind::failed) + 1); // a status it does not know reads as idle
    EXPECT_EQ(pill.label(), QStringLiteral("Idle"));
    EXPECT_EQ(pillChanged.count(), 2);

    EXPECT_EQ(BannerModel::linkSymbol(QStringLiteral("Folder")), QStringLiteral("📁"));
    EXPECT_EQ(BannerModel::linkSymbol(QStringLiteral("Transcript")), QStringLiteral("📄"));
    EXPECT_EQ(BannerModel::linkSymbol(QStringLiteral("Recording")), QStringLiteral("〰"));
    EXPECT_EQ(BannerModel::linkSymbol(QStringLiteral("Review")), QStringLiteral("📊"));
    BannerModel banner;
    EXPECT_FALSE(banner.showsProgress());
    banner.setProgress(0);
    EXPECT_TRUE(banner.showsProgress());
}

TEST(ControlBarDevices, KeepTheStoredDeviceOrFallBackToTheDefaultThenTheFirst) {
    const AudioInputDevice a = device(QStringLiteral("a"), QStringLiteral("A"));
    const AudioInputDevice b = device(QStringLiteral("b"), QStringLiteral("B"));
    struct Row {
        const char* what;
        QString stored;
        DeviceSnapshot snapshot;
        std::optional<QString> expected;
    };
    const std::vector<Row> rows = {
        {"stored present", QStringLiteral("b"), {{a, b}, a}, std::nullopt},
        {"stored gone, default", QStringLiteral("x"), {{a, b}, b}, QStringLiteral("b")},
        {"nothing stored, default", QString(), {{a, b}, b}, QStringLiteral("b")},
        {"no default, first", QStringLiteral("x"), {{b, a}, std::nullopt}, QStringLiteral("b")},
        {"no devices", QStringLiteral("x"), {{}, std::nullopt}, QString()},
    };
    for (const Row& row : rows)
        EXPECT_EQ(DeviceRefresher::chooseDeviceUID(row.stored, row.snapshot), row.expected)
            << row.what;
}

struct BarFixture : ::testing::Test {
    TestHome home;
    FakeSession fake{home.configHome(), home.path() + QStringLiteral("/Documents/Corvinel")};
};

TEST_F(BarFixture, DeviceListIsReadOffTheGuiThreadAndSettlesTheStoredDevice) {
    fake.settings.setDeviceUID(QStringLiteral("unplugged"));
    ControlBarModel model;
    model.setSession(fake.controller.get());
    model.setSettings(&fake.settings);
    std::atomic<QThread*> listedOn{nullptr};
    model.setDeviceLister([&listedOn] {
        listedOn = QThread::currentThread();
        return DeviceSnapshot{{kLongName, kShortName}, kShortName};
    });
    QSignalSpy refreshed(&model, &ControlBarModel::devicesRefreshed);
    model.refreshDevices();
    ASSERT_TRUE(refreshed.wait(5000));
    EXPECT_NE(listedOn.load(), QThread::currentThread());
    EXPECT_EQ(fake.settings.deviceUID(), QStringLiteral("short"));
    EXPECT_EQ(model.micLabel(), QStringLiteral("USB Audio Device X ch 1"));
}

TEST_F(BarFixture, ADeviceListArrivingAfterTheBarIsGoneDoesNothing) {
    QSemaphore release;
    auto model = std::make_unique<ControlBarModel>();
    model->setSettings(&fake.settings);
    model->setDeviceLister([&release] {
        release.acquire();
        return DeviceSnapshot{{kLongName}, std::nullopt};
    });
    model->refreshDevices();
    model.reset();
    release.release();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(fake.settings.deviceUID(), QString());
}

TEST_F(BarFixture, MeterMovesAtMostOnceASlotAndShowsTheLevelItRestsAt) {
    LevelMeterModel meter;
    meter.setSession(fake.controller.get());
    fake.settings.setApiKey(QStringLiteral("sk-test")); // levels count only while a session runs
    fake.controller->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.controller->isSessionActive(); }));
    QSignalSpy fills(&meter, &LevelMeterModel::fillChanged);
    QElapsedTimer clock;
    clock.start();
    int updates = 0;
    while (clock.elapsed() < 4 * LevelMeterModel::kSlotMs) {
        fake.engine.onLevels(float(++updates % 10) / 10.0f + 0.05f, 0);
        QTest::qWait(1);
    }
    const qint64 elapsed = clock.elapsed();
    EXPECT_GT(updates, 100);
    EXPECT_GE(fills.count(), 3);
    EXPECT_LE(fills.count(), elapsed / LevelMeterModel::kSlotMs + 1);
    // Once the levels rest the meter shows the last one and stops sampling.
    fake.engine.onLevels(0.5f, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return meter.fill() == 0.5; }, 1000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !meter.isSampling(); }, 1000));
    // Right after a move, the other channel's level arms no timer here.
    fake.engine.onLevels(0.5f, 0.3f);
    EXPECT_FALSE(meter.isSampling());
}

TEST_F(BarFixture, TheClockTickMovesTheClockAloneAndOtherChangesLeaveTheClockBe) {
    ControlBarModel model;
    model.setSession(fake.controller.get());
    model.setSettings(&fake.settings);
    fake.settings.setApiKey(QStringLiteral("sk-test"));
    fake.controller->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.controller->isSessionActive(); }));
    fake.clock.advance(1); // the clock shows
    QSignalSpy labels(&model, &ControlBarModel::stateChanged);
    QSignalSpy clock(&model, &ControlBarModel::clockTextChanged);
    fake.clock.advance(1);
    EXPECT_EQ(model.clockText(), QStringLiteral("00:02"));
    EXPECT_EQ(clock.count(), 1);
    EXPECT_EQ(labels.count(), 0);
    fake.settings.setCompanyName(QStringLiteral("Acme"));
    EXPECT_EQ(clock.count(), 1);
    EXPECT_EQ(labels.count(), 1);
}

TEST_F(BarFixture, TranscriptionProgressRunsFromZeroToOneThenEnds) {
    EXPECT_EQ(fake.controller->transcriptionProgress(), -1);
    fake.controller->transcribeRecording(home.path() + QStringLiteral("/take.wav"));
    ASSERT_TRUE(fake.recordings.progress);
    QSignalSpy changed(fake.controller.get(), &SessionController::transcriptionProgressChanged);
    struct Row {
        double done, total, progress;
    };
    for (const Row& row : {Row{0, 60, 0}, Row{15, 60, 0.25}, Row{60, 60, 1}, Row{70, 60, 1}}) {
        fake.recordings.progress(row.done, row.total);
        EXPECT_DOUBLE_EQ(fake.controller->transcriptionProgress(), row.progress) << row.done;
    }
    EXPECT_EQ(changed.count(), 3); // the repeated 1 is no change
    fake.controller->setBannerText(QStringLiteral("Context loaded: a.md (3 chars)"));
    EXPECT_EQ(fake.controller->transcriptionProgress(), -1); // no bar under another message
    fake.recordings.progress(30, 60);
    EXPECT_DOUBLE_EQ(fake.controller->transcriptionProgress(), 0.5);
    fake.recordings.completion(QString(home.path() + QStringLiteral("/take.txt")));
    EXPECT_EQ(fake.controller->transcriptionProgress(), -1);
}

void click(QQuickItem* item) {
    ASSERT_NE(item, nullptr);
    QmlHarness::click(item);
}

TEST_F(BarFixture, WindowBarSwitchesToStopLocksSavingAndOffersApplyLive) {
    QmlHarness qml;
    ASSERT_NE(qml.loadMain(*fake.controller, fake.settings), nullptr)
        << qPrintable(qml.warnings().join(u'\n'));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(qml.window()));
    QQuickItem* saveAudio = qml.findByAccessibleName(QStringLiteral("Save .wav"));
    ASSERT_NE(saveAudio, nullptr);
    EXPECT_TRUE(saveAudio->isEnabled());

    fake.settings.setApiKey(QStringLiteral("sk-test"));
    click(qml.findByAccessibleName(QStringLiteral("Start")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.controller->isSessionActive(); }));
    EXPECT_NE(qml.findByAccessibleName(QStringLiteral("Stop")), nullptr);
    EXPECT_FALSE(saveAudio->isEnabled());

    click(qml.findByAccessibleName(QStringLiteral("Job")));
    click(qml.waitForAccessibleName(QStringLiteral("Apply live")));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return qml.findByAccessibleName(QStringLiteral("Apply live")) == nullptr; }));
    EXPECT_TRUE(fake.controller->bannerText().startsWith(QStringLiteral("Job context pushed")))
        << qPrintable(fake.controller->bannerText());
    EXPECT_TRUE(qml.warnings().isEmpty()) << qPrintable(qml.warnings().join(u'\n'));
}

TEST_F(BarFixture, RunningBarKeepsItsLastItemsInsideTheNarrowWindow) {
    QmlHarness qml;
    ASSERT_NE(qml.loadMain(*fake.controller, fake.settings), nullptr)
        << qPrintable(qml.warnings().join(u'\n'));
    QQuickWindow* window = qml.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    fake.settings.setApiKey(QStringLiteral("sk-test"));
    fake.controller->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.controller->isSessionActive(); }));
    fake.client.onStatus(RealtimeClientInterface::Status::connected());
    fake.client.onUsage(QJsonObject{{QStringLiteral("input_tokens"), 1500},
                                    {QStringLiteral("output_tokens"), 243}});
    fake.clock.advance(12);
    fake.engine.onLevels(0.5f, 0); // the answer timer joins the row
    ASSERT_FALSE(fake.controller->costSummaryText().isEmpty());

    for (const int width : {420, 480}) {
        window->setWidth(width);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->contentItem()->width() == width; }));
        // The layouts settle in the polish before the next frame.
        ASSERT_TRUE(QQuickTest::qWaitForPolish(window));
        for (const char* name : {"Menu", "Context"}) {
            QQuickItem* item = qml.findByAccessibleName(QString::fromUtf8(name));
            ASSERT_NE(item, nullptr) << name;
            EXPECT_LE(item->mapToScene(QPointF(item->width(), 0)).x(), width)
                << name << " at " << width;
        }
    }
}

QString contextFile(const QString& name) {
    return QStringLiteral(CONTEXT_DATA "/") + name;
}

TEST_F(BarFixture, ImportedContextIsStoredAndAnnounced) {
    const QString empty1 = home.path() + QStringLiteral("/empty.txt");
    const QString empty2 = home.path() + QStringLiteral("/blank.md");
    for (const QString& path : {empty1, empty2}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(" \n\n");
    }
    const QStringList resume = {
        contextFile(QStringLiteral("resume.pdf")),
        QUrl::fromLocalFile(contextFile(QStringLiteral("resume.md"))).toString()};
    const ContextLoader::Result loaded =
        ContextLoader::load(ContextImporter::urlsFromPaths(resume));
    const ContextLoader::Result markdown =
        ContextLoader::load({QUrl::fromLocalFile(contextFile(QStringLiteral("resume.md")))});
    ASSERT_EQ(loaded.names,
              QStringList({QStringLiteral("resume.pdf"), QStringLiteral("resume.md")}));

    struct Row {
        const char* what;
        QStringList paths;
        QString banner;
        QString contextText;
        QStringList names;
    };
    const std::vector<Row> rows = {
        {"nothing readable",
         {empty1, empty2},
         QStringLiteral("Could not read any text from those files."),
         QStringLiteral("before"),
         {QStringLiteral("old.txt")}},
        {"pdf and markdown", resume,
         QStringLiteral("Context loaded: resume.pdf, resume.md (") +
             QString::number(Graphemes::count(loaded.text)) + QStringLiteral(" chars)"),
         loaded.text, loaded.names},
        {"one readable of two",
         {empty1, contextFile(QStringLiteral("resume.md"))},
         QStringLiteral("Context loaded: resume.md (") +
             QString::number(Graphemes::count(markdown.text)) + QStringLiteral(" chars)"),
         markdown.text,
         markdown.names},
    };
    for (const Row& row : rows) {
        fake.settings.setContextText(QStringLiteral("before"));
        fake.settings.setContextFileNames({QStringLiteral("old.txt")});
        ControlBarModel model;
        model.setSession(fake.controller.get());
        model.setSettings(&fake.settings);
        QSignalSpy imported(&model, &ControlBarModel::contextImported);
        model.importContext(row.paths);
        ASSERT_TRUE(imported.wait(10000)) << row.what;
        EXPECT_EQ(fake.controller->bannerText(), row.banner) << row.what;
        EXPECT_EQ(fake.settings.contextText(), row.contextText) << row.what;
        EXPECT_EQ(fake.settings.contextFileNames(), row.names) << row.what;
    }
}

} // namespace
