// The desktop program end to end: Ctrl+Return in its window starts a session that streams
// what the speakers play, a question becomes a card, Ctrl+Return stops it, and the session
// leaves its transcript, event log and recording.

#include "XServer.h"
#include "live/LiveSupport.h"
#include "settings/AppSettings.h"

#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>

namespace {

// The corvinel program on the X server, with this test's home, sound server and endpoint.
class DesktopProgram {
public:
    explicit DesktopProgram(const XServer& x) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), x.display());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // No desktop bus and no portal: the window never reaches the user's own session.
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=/nonexistent/corvinel-test-bus"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&m_process, &QProcess::readyRead,
                         [this] { m_output += m_process.readAll(); });
        m_process.start(QStringLiteral(CORVINEL_BINARY), {});
        m_process.waitForStarted(5000);
    }
    ~DesktopProgram() {
        m_process.terminate();
        // As a logout ends it: the window keeps no hold on SIGTERM from its launch. (A busy
        // machine can take seconds to end the threads of a killed process.)
        EXPECT_TRUE(m_process.state() == QProcess::NotRunning || m_process.waitForFinished(10000));
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    bool running() const { return m_process.state() == QProcess::Running; }
    std::string output() const { return m_output.toStdString(); }

private:
    QProcess m_process;
    QByteArray m_output;
};

class DesktopSession : public LiveTest {
protected:
    void SetUp() override {
        if (!XServer::installed())
            GTEST_SKIP() << "Xvfb is not installed (scripts/setup-deps --tests)";
        LiveTest::SetUp();
        ASSERT_TRUE(m_x.start());
        // What a user would have chosen in Settings before this call; the walkthrough of a
        // first start is still to come.
        AppSettings settings(AppSettings::defaultPath());
        settings.setMeetingSource(AppSettings::MeetingSource::systemOutput);
        settings.setStreamSource(AppSettings::StreamSource::meetingOnly);
        settings.setDeviceUID(QStringLiteral("fakemic"));
        settings.setSaveAudio(true);
    }

    XServer m_x;
};

} // namespace

TEST_F(DesktopSession, CtrlReturnStartsAndStopsASessionWhoseQuestionBecomesACard) {
    const QString question = QStringLiteral("Tell me about a hard bug you fixed.");
    const QString answer = QStringLiteral("A race in the audio path.");
    const QString speech = makeSpeech(m_files.path(), QStringLiteral("q.wav"), question, 0.0);
    ASSERT_FALSE(speech.isEmpty());

    DesktopProgram corvinel(m_x);
    const QString walkthrough = m_x.findWindow(QStringLiteral("Welcome to Corvinel"), 20000);
    ASSERT_FALSE(walkthrough.isEmpty()) << "a first start shows the walkthrough\n"
                                        << corvinel.output();
    ASSERT_TRUE(m_x.sendKeys(walkthrough, QStringLiteral("Escape")));
    ASSERT_TRUE(waitUntil([] {
        return QSettings(AppSettings::defaultPath(), QSettings::IniFormat)
                   .value(QStringLiteral("hasCompletedOnboarding"))
                   .toString() == QStringLiteral("true");
    })) << "Escape ends the walkthrough for good\n"
        << corvinel.output();
    const QString window = m_x.findWindow(QStringLiteral("Corvinel"), 20000);
    ASSERT_FALSE(window.isEmpty()) << corvinel.output();
    const auto geometry = m_x.run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window});
    ASSERT_TRUE(geometry);
    EXPECT_TRUE(geometry->contains(QStringLiteral("Map State: IsViewable")))
        << geometry->toStdString();

    ASSERT_TRUE(m_x.sendKeys(window, QStringLiteral("ctrl+Return")));
    ASSERT_TRUE(m_server.waitForFrames(QStringLiteral("session.update"), 1, 15000))
        << "Ctrl+Return did not start a session\n"
        << corvinel.output();
    ASSERT_TRUE(waitUntil([&] { return streamedSamples() > 0; }, 8000));
    const size_t before = streamedSamples();
    auto meeting = playOn(QStringLiteral("speakers"), speech);
    ASSERT_TRUE(meeting->finished(15000));
    ASSERT_TRUE(streamFor(0.5));
    EXPECT_GT(activeSpan(streamedSince(before), 24000).length(), 1.0);

    LiveTest::answer(question, {answer});
    // The finished answer is logged as it completes.
    ASSERT_TRUE(waitUntil([&] {
        return readText(sessionFile(QStringLiteral(".events.jsonl")))
            .contains(QStringLiteral("\"answer_done\""));
    })) << corvinel.output();

    // "Shorter" under the first answer, the only card yet (the window lays out the same on
    // every run): the rewrite is that card's, and its version is the one the files keep.
    ASSERT_TRUE(
        m_x.run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--window"),
                                            window, QStringLiteral("51"), QStringLiteral("218"),
                                            QStringLiteral("click"), QStringLiteral("1")}));
    ASSERT_TRUE(waitUntil([&] { return m_service.activeMetadata().contains("card"); }, 15000))
        << "the click did not reach \"Shorter\"\n"
        << corvinel.output();
    m_service.stream(QStringLiteral("A data race."));
    m_service.finish();
    ASSERT_TRUE(waitUntil([&] {
        return readText(sessionFile(QStringLiteral(".events.jsonl")))
            .contains(QStringLiteral("\"answer_refined\""));
    })) << corvinel.output();

    // Shift+Ctrl+S: a picture of the screen goes to the service, and only on that command.
    const auto pictures = [&] {
        QList<QImage> found;
        for (const QJsonObject& frame : m_server.frames(QStringLiteral("conversation.item.create")))
            for (const QJsonValue part : frame.value("item").toObject().value("content").toArray())
                if (part.toObject().value("type").toString() == u"input_image")
                    found << QImage::fromData(QByteArray::fromBase64(
                        part.toObject().value("image_url").toString().section(u',', 1).toLatin1()));
        return found;
    };
    EXPECT_TRUE(pictures().isEmpty());
    ASSERT_TRUE(m_x.sendKeys(window, QStringLiteral("shift+ctrl+s")));
    ASSERT_TRUE(waitUntil([&] { return m_service.activeMetadata().contains("card"); }, 15000))
        << corvinel.output();
    ASSERT_EQ(pictures().size(), 1);
    const QImage screen = pictures().first();
    ASSERT_EQ(screen.size(), QSize(1280, 900)) << "the whole screen, within 1600 px";
    // The window is on it, light on the bare (black) screen around it.
    const QRegularExpressionMatch at =
        QRegularExpression(QStringLiteral("Absolute upper-left X:\\s+(\\d+)[\\s\\S]*Absolute "
                                          "upper-left Y:\\s+(\\d+)[\\s\\S]*Width:\\s+(\\d+)"
                                          "[\\s\\S]*Height:\\s+(\\d+)"))
            .match(*geometry);
    ASSERT_TRUE(at.hasMatch()) << geometry->toStdString();
    const QRect shown(at.captured(1).toInt(), at.captured(2).toInt(), at.captured(3).toInt(),
                      at.captured(4).toInt());
    EXPECT_GT(qGray(screen.pixel(shown.center())), 150) << "the window's light background";
    const QPoint outside = shown.right() + 40 < 1280 ? QPoint(1270, 890) : QPoint(5, 890);
    EXPECT_LT(qGray(screen.pixel(outside)), 40) << "the bare screen beside it";
    m_service.stream(QStringLiteral("It shows the Corvinel window."));
    m_service.finish();

    // A typed question: Ctrl+L, the words, Return; it is answered on a card of its own.
    const QString typed = QStringLiteral("What is your notice period?");
    ASSERT_TRUE(m_x.sendKeys(window, QStringLiteral("ctrl+l")));
    ASSERT_TRUE(
        m_x.run(QStringLiteral("xdotool"),
                {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"), typed}));
    ASSERT_TRUE(m_x.sendKeys(window, QStringLiteral("Return")));
    ASSERT_TRUE(waitUntil([&] { return m_service.activeMetadata().contains("card"); }, 15000))
        << corvinel.output();
    m_service.stream(QStringLiteral("Three months."));
    m_service.finish();
    ASSERT_TRUE(waitUntil([&] {
        return readText(sessionFile(QStringLiteral(".events.jsonl")))
                   .count(QStringLiteral("\"answer_done\"")) == 4;
    })) << corvinel.output();

    ASSERT_TRUE(m_x.sendKeys(window, QStringLiteral("ctrl+Return")));
    ASSERT_TRUE(
        waitUntil([&] { return !sessionFile(QStringLiteral(".transcript.md")).isEmpty(); }, 15000))
        << "Ctrl+Return did not stop the session\n"
        << corvinel.output();
    EXPECT_TRUE(corvinel.running());
    const QString transcript = readText(sessionFile(QStringLiteral(".transcript.md")));
    EXPECT_TRUE(transcript.contains(question)) << transcript.toStdString();
    EXPECT_TRUE(transcript.contains(QStringLiteral("**Velmora:** A data race.\n")))
        << "the version shown: " << transcript.toStdString();
    EXPECT_TRUE(transcript.contains(QStringLiteral("It shows the Corvinel window.")));
    const QString picture = sessionFile(QStringLiteral(".screen-1.jpg"));
    ASSERT_FALSE(picture.isEmpty()) << "the picture is kept beside the session's files";
    EXPECT_TRUE(transcript.contains(QStringLiteral("](") + QFileInfo(picture).fileName() + u')'))
        << transcript.toStdString();
    const QString events = readText(sessionFile(QStringLiteral(".events.jsonl")));
    EXPECT_TRUE(events.contains(QStringLiteral("\"screen\":true"))) << events.toStdString();
    EXPECT_TRUE(events.contains(QStringLiteral("\"typed\":true"))) << events.toStdString();
    EXPECT_TRUE(transcript.contains(typed) && transcript.contains(QStringLiteral("Three months.")))
        << transcript.toStdString();
    EXPECT_TRUE(events.contains(QStringLiteral("\"question\""))) << events.toStdString();
    EXPECT_TRUE(events.contains(question)) << events.toStdString();
    const QString wav = sessionFile(QStringLiteral(".wav"));
    ASSERT_FALSE(wav.isEmpty());
    const WavContents recording = readWav(wav);
    EXPECT_TRUE(recording.valid);
    ASSERT_GT(recording.sampleRate, 0);
    EXPECT_GT(double(recording.left.size()) / recording.sampleRate, 2.0);
}

namespace {

QString iniValue(const QString& key) {
    return QSettings(AppSettings::defaultPath(), QSettings::IniFormat).value(key).toString();
}

// The window class the installed menu entry promises: docks and window lists match the
// window to the entry (its name and icon) by it.
QString startupWindowClass() {
    const QRegularExpression line(QStringLiteral("^StartupWMClass=(.*)$"),
                                  QRegularExpression::MultilineOption);
    return line.match(readText(QStringLiteral(CORVINEL_DESKTOP_FILE))).captured(1);
}

} // namespace

// The window as the desktop sees it: its class is the one its menu entry names, it opens where
// it was left, stays above other windows on every workspace while "On top" is set, lets go of
// both at Shift+Ctrl+T, and remembers a move.
TEST(DesktopWindow, OpensWhereItWasKeepsAboveOnEveryWorkspaceAndRemembersAMove) {
    if (!XServer::installed())
        GTEST_SKIP() << "Xvfb is not installed (scripts/setup-deps --tests)";
    TestHome home;
    XServer x;
    ASSERT_TRUE(x.start());
    {
        AppSettings settings(AppSettings::defaultPath());
        settings.setHasCompletedOnboarding(true);
        settings.setAlwaysOnTop(true);
        QSettings(AppSettings::defaultPath(), QSettings::IniFormat)
            .setValue(QStringLiteral("mainWindowFrame"),
                      QStringLiteral("{{200, 100}, {500, 640}}"));
    }

    DesktopProgram corvinel(x);
    const QString window = x.findWindow(QStringLiteral("Corvinel"), 20000);
    ASSERT_FALSE(window.isEmpty()) << corvinel.output();
    const QString windowClass = startupWindowClass();
    ASSERT_FALSE(windowClass.isEmpty());
    const auto wmClass =
        x.run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("WM_CLASS")});
    ASSERT_TRUE(wmClass);
    // WM_CLASS holds the instance name, then the class, which is what the entry is matched to.
    EXPECT_TRUE(wmClass->trimmed().endsWith(QStringLiteral(", \"%1\"").arg(windowClass)))
        << wmClass->toStdString();

    auto info = [&] { return x.run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window}); };
    auto hints = [&] {
        return x.run(QStringLiteral("xprop"),
                     {QStringLiteral("-id"), window, QStringLiteral("_NET_WM_STATE"),
                      QStringLiteral("_NET_WM_DESKTOP")});
    };
    // Restored on the next turn and again 0.3 s later.
    EXPECT_TRUE(waitUntil([&] {
        const auto geometry = info();
        return geometry && geometry->contains(QStringLiteral("Width: 500")) &&
               geometry->contains(QStringLiteral("Height: 640")) &&
               geometry->contains(QStringLiteral("Absolute upper-left X:  200"));
    })) << info().value_or(QString()).toStdString();
    EXPECT_TRUE(waitUntil([&] {
        const auto state = hints();
        return state && state->contains(QStringLiteral("_NET_WM_STATE_ABOVE")) &&
               state->contains(QStringLiteral("4294967295"));
    })) << hints().value_or(QString()).toStdString();

    ASSERT_TRUE(x.sendKeys(window, QStringLiteral("shift+ctrl+t")));
    EXPECT_TRUE(waitUntil([&] {
        const auto state = hints();
        return state && !state->contains(QStringLiteral("_NET_WM_STATE_ABOVE")) &&
               !state->contains(QStringLiteral("4294967295"));
    })) << hints().value_or(QString()).toStdString();
    EXPECT_TRUE(waitUntil([] { return iniValue(QStringLiteral("alwaysOnTop")) == "false"; }));

    ASSERT_TRUE(x.run(QStringLiteral("xdotool"), {QStringLiteral("windowmove"), window,
                                                  QStringLiteral("300"), QStringLiteral("220")}));
    EXPECT_TRUE(waitUntil([] {
        const QString frame = iniValue(QStringLiteral("mainWindowFrame"));
        return frame.startsWith(QStringLiteral("{{300, ")) &&
               frame.endsWith(QStringLiteral("{500, 640}}"));
    })) << iniValue(QStringLiteral("mainWindowFrame")).toStdString();
}
