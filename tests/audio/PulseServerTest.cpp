// Listings and connection failures against a real PulseAudio daemon with fake devices; ctest
// starts it for these tests (fixture "pulse_daemon") and points PULSE_SERVER at it. Other test
// processes share that daemon at the same time, so each test names its players uniquely and
// checks its own entries rather than whole lists.

#include "audio/AudioDeviceManager.h"
#include "audio/ProcessTapCapture.h"
#include "audio/PulseAppListing.h"
#include "audio/pulse/PulseConnection.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// Polls the server until `condition` holds; the limit is a safety net, not a pace.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

// A bundle identifier no other test process uses.
QString uniqueID(const char* name) {
    return QStringLiteral("test.%1.p%2")
        .arg(QString::fromLatin1(name))
        .arg(QCoreApplication::applicationPid());
}

// A real program on the sound server: paplay playing or parec recording, killed at the end.
class Peer {
public:
    Peer(const QString& program, const QStringList& arguments) {
        m_process.setProgram(program);
        m_process.setArguments(arguments);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start();
        m_process.waitForStarted(5000);
    }
    ~Peer() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    int32_t pid() const { return static_cast<int32_t>(m_process.processId()); }

private:
    QProcess m_process;
};

class SoundServer : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new QTemporaryDir;
        const int status = QProcess::execute(
            QStringLiteral("sox"),
            {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("48000"),
             QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"),
             tone(), QStringLiteral("synth"), QStringLiteral("30"), QStringLiteral("sine"),
             QStringLiteral("440"), QStringLiteral("vol"), QStringLiteral("0.1")});
        ASSERT_EQ(status, 0) << "sox could not make the test tone";
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override {
        // Never the user's own server: without the fixture's address there is nothing to test.
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            GTEST_FAIL() << "PULSE_SERVER is not set: run these tests through ctest, which "
                            "starts the private daemon";
    }
    static QString tone() { return s_dir->filePath(QStringLiteral("tone.wav")); }

    static std::unique_ptr<Peer> player(const QString& clientName, const QString& appID) {
        return std::make_unique<Peer>(
            QStringLiteral("paplay"),
            QStringList{QStringLiteral("--device=speakers"),
                        QStringLiteral("--client-name=") + clientName,
                        QStringLiteral("--property=application.id=") + appID, tone()});
    }
    static std::unique_ptr<Peer> silentClient(const QString& clientName, const QString& appID) {
        return std::make_unique<Peer>(
            QStringLiteral("parec"),
            QStringList{QStringLiteral("--device=fakemic"),
                        QStringLiteral("--client-name=") + clientName,
                        QStringLiteral("--property=application.id=") + appID});
    }

    static std::optional<AudioProcessInfo> findApp(const QList<AudioProcessInfo>& list,
                                                   const QString& bundleID) {
        for (const auto& entry : list) {
            if (entry.bundleID == bundleID)
                return entry;
        }
        return std::nullopt;
    }

    static inline QTemporaryDir* s_dir = nullptr;
};

} // namespace

TEST_F(SoundServer, InputDevicesAreTheFakeSourcesWithoutMonitors) {
    const auto devices = AudioDeviceManager::inputDevices();
    ASSERT_EQ(devices.size(), 2);
    EXPECT_EQ(devices[0].uid, QStringLiteral("iface4"));
    EXPECT_EQ(devices[0].label(), QStringLiteral("FakeInterface4ch — 4 ch @ 48000 Hz"));
    EXPECT_EQ(devices[1].uid, QStringLiteral("fakemic"));
    EXPECT_EQ(devices[1].label(), QStringLiteral("FakeMic — 1 ch @ 48000 Hz"));

    // The ids are the server's source indexes, and every monitor the server has is left out.
    const auto sources = std::get<QList<PulseSource>>(PulseConnection::shared().sources());
    int monitors = 0;
    for (const PulseSource& source : sources) {
        const bool listed = std::any_of(devices.begin(), devices.end(), [&](const auto& d) {
            return d.id == source.index && d.uid == source.name;
        });
        EXPECT_EQ(listed, !source.monitorOfSink) << source.name.toStdString();
        monitors += source.monitorOfSink ? 1 : 0;
    }
    EXPECT_EQ(monitors, 4);
}

TEST_F(SoundServer, DevicesAreFoundByUidAndTheDefaultIsTheFakeMicrophone) {
    const auto iface = AudioDeviceManager::device(QStringLiteral("iface4"));
    ASSERT_TRUE(iface);
    EXPECT_EQ(iface->channelCount, 4);
    EXPECT_EQ(iface->sampleRate, 48000.0);
    EXPECT_EQ(iface->name, QStringLiteral("FakeInterface4ch"));
    EXPECT_FALSE(AudioDeviceManager::device(QString()));
    EXPECT_FALSE(AudioDeviceManager::device(QStringLiteral("speakers.monitor")));
    EXPECT_FALSE(AudioDeviceManager::device(QStringLiteral("IFACE4")));

    const auto defaultDevice = AudioDeviceManager::defaultInputDevice();
    ASSERT_TRUE(defaultDevice);
    EXPECT_EQ(defaultDevice->uid, QStringLiteral("fakemic"));
    EXPECT_EQ(defaultDevice->channelCount, 1);
}

TEST_F(SoundServer, TwoPlayersAreListedAndFoundByBundleID) {
    const QString zoomID = uniqueID("zoom");
    const QString meetID = uniqueID("meet");
    auto zoom = player(QStringLiteral("FakeZoom"), zoomID);
    auto meet = player(QStringLiteral("FakeMeet"), meetID);
    ASSERT_TRUE(waitUntil([&] {
        return ProcessTapCapture::audioObject(zoomID) && ProcessTapCapture::audioObject(meetID);
    })) << "the players never showed up on the server";

    const auto playing = ProcessTapCapture::runningAudioProcesses();
    const auto zoomEntry = findApp(playing, zoomID);
    const auto meetEntry = findApp(playing, meetID);
    ASSERT_TRUE(zoomEntry && meetEntry);
    EXPECT_EQ(zoomEntry->name, QStringLiteral("FakeZoom"));
    EXPECT_EQ(zoomEntry->pid, zoom->pid());
    EXPECT_EQ(meetEntry->name, QStringLiteral("FakeMeet"));
    EXPECT_EQ(meetEntry->pid, meet->pid());
    EXPECT_NE(zoomEntry->objectID, meetEntry->objectID);

    // The object id is the server's index of that player's stream.
    const auto inputs = std::get<QList<PulseSinkInput>>(PulseConnection::shared().sinkInputs());
    for (const auto& entry : {*zoomEntry, *meetEntry}) {
        const auto stream = std::find_if(inputs.begin(), inputs.end(), [&](const auto& input) {
            return input.index == *entry.objectID;
        });
        ASSERT_NE(stream, inputs.end());
        EXPECT_EQ(stream->properties.value(QStringLiteral("application.id")), entry.bundleID);
    }

    PulseAppListing listing;
    EXPECT_EQ(listing.audioObject(zoomID), zoomEntry->objectID);
    EXPECT_EQ(listing.audioObject(meetID), meetEntry->objectID);
    EXPECT_FALSE(listing.audioObject(uniqueID("absent")));
    const auto apps = listing.selectableApps();
    EXPECT_EQ(findApp(apps, zoomID), zoomEntry);

    // Once a player exits, it is no longer playing.
    meet.reset();
    EXPECT_TRUE(waitUntil([&] { return !ProcessTapCapture::audioObject(meetID); }));
    EXPECT_EQ(ProcessTapCapture::audioObject(zoomID), zoomEntry->objectID);
}

TEST_F(SoundServer, ASilentClientIsSelectableAfterThePlayersAndMovesUpOncePlaying) {
    const QString id = uniqueID("silent");
    auto silent = silentClient(QStringLiteral("SilentApp"), id);
    auto other = player(QStringLiteral("OtherPlayer"), uniqueID("other"));
    // A new stream may start corked (PipeWire's do): wait until the player plays.
    ASSERT_TRUE(waitUntil([&] {
        const auto apps = ProcessTapCapture::selectableApps();
        const auto playing = findApp(apps, uniqueID("other"));
        return findApp(apps, id) && playing && playing->objectID;
    }));

    const auto apps = ProcessTapCapture::selectableApps();
    const auto entry = findApp(apps, id);
    ASSERT_TRUE(entry);
    EXPECT_FALSE(entry->objectID);
    EXPECT_EQ(entry->name, QStringLiteral("SilentApp"));
    EXPECT_EQ(entry->pid, silent->pid());
    // Everything playing comes before everything that is not.
    const auto firstSilent =
        std::find_if(apps.begin(), apps.end(), [](const auto& app) { return !app.objectID; });
    EXPECT_TRUE(
        std::none_of(firstSilent, apps.end(), [](const auto& app) { return app.objectID; }));
    EXPECT_TRUE(findApp(apps, uniqueID("other"))->objectID);
    EXPECT_FALSE(ProcessTapCapture::audioObject(id));

    auto playing = player(QStringLiteral("SilentApp"), id);
    ASSERT_TRUE(waitUntil([&] { return ProcessTapCapture::audioObject(id).has_value(); }));
    const auto after = ProcessTapCapture::selectableApps();
    const auto moved = findApp(after, id);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->objectID, ProcessTapCapture::audioObject(id));
    EXPECT_EQ(std::count_if(after.begin(), after.end(),
                            [&](const auto& app) { return app.bundleID == id; }),
              1);
}

TEST_F(SoundServer, ThisProcessIsNeverListed) {
    // A player that claims this application's identifier counts as this application too.
    auto impostor = player(QStringLiteral("Impostor"), PulseConnection::ownApplicationID);
    const QString marker = uniqueID("marker");
    auto markerPlayer = player(QStringLiteral("Marker"), marker);
    ASSERT_TRUE(waitUntil([&] { return ProcessTapCapture::audioObject(marker).has_value(); }));
    ASSERT_TRUE(waitUntil([&] {
        const auto inputs = std::get<QList<PulseSinkInput>>(PulseConnection::shared().sinkInputs());
        return std::any_of(inputs.begin(), inputs.end(), [](const auto& input) {
            return input.properties.value(QStringLiteral("application.id")) ==
                   PulseConnection::ownApplicationID;
        });
    }));

    // This process is a client of the server (the listings' own connection)...
    const auto clients = std::get<QList<PulseClient>>(PulseConnection::shared().clients());
    const auto self = QString::number(QCoreApplication::applicationPid());
    EXPECT_TRUE(std::any_of(clients.begin(), clients.end(), [&](const auto& client) {
        return client.properties.value(QStringLiteral("application.process.id")) == self;
    }));
    // ...but neither it nor anything under its identifier is listed.
    for (const auto& app : ProcessTapCapture::selectableApps()) {
        EXPECT_NE(app.pid, QCoreApplication::applicationPid()) << app.name.toStdString();
        EXPECT_NE(app.bundleID, PulseConnection::ownApplicationID) << app.name.toStdString();
    }
    EXPECT_FALSE(ProcessTapCapture::audioObject(PulseConnection::ownApplicationID));
}

TEST_F(SoundServer, OnlyApplicationsAreOfferedNeverTheSoundServersOwnClients) {
    const QString id = uniqueID("meetings");
    auto meeting = player(QStringLiteral("Zoom Meetings"), id);
    ASSERT_TRUE(waitUntil([&] {
        const auto app = findApp(ProcessTapCapture::selectableApps(), id);
        return app && app->objectID;
    })) << "the player never showed up on the server";

    // The server's own programs, as the server itself describes its clients.
    const QStringList serverPrograms = {u"pipewire"_s, u"pipewire-pulse"_s, u"wireplumber"_s,
                                        u"pulseaudio"_s};
    QSet<QString> serverPIDs;
    const auto clients = std::get<QList<PulseClient>>(PulseConnection::shared().clients());
    for (const PulseClient& client : clients) {
        const QString binary = client.properties.value(u"application.process.binary"_s);
        if (serverPrograms.contains(binary))
            serverPIDs.insert(client.properties.value(u"application.process.id"_s));
    }
    // PipeWire lists its daemon and WirePlumber as clients; PulseAudio lists none of its own.
    if (qEnvironmentVariable("CORVINEL_SOUND_SERVER") == u"pipewire"_s) {
        EXPECT_GE(serverPIDs.size(), 2);
    }

    PulseAppListing listing;
    const auto apps = listing.selectableApps();
    const auto entry = findApp(apps, id);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, u"Zoom Meetings"_s);
    EXPECT_EQ(entry->pid, meeting->pid());
    for (const auto& app : apps) {
        SCOPED_TRACE(app.name.toStdString());
        EXPECT_FALSE(serverPIDs.contains(QString::number(app.pid)));
        EXPECT_FALSE(serverPrograms.contains(app.bundleID.toLower()));
        EXPECT_NE(app.pid, QCoreApplication::applicationPid());
    }
}

TEST_F(SoundServer, ListingsFromSeveralThreadsAtOnceAgree) {
    const auto expected = AudioDeviceManager::inputDevices();
    ASSERT_EQ(expected.size(), 2);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                if (AudioDeviceManager::inputDevices() != expected)
                    ++mismatches;
                ProcessTapCapture::selectableApps();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

namespace {

// A daemon of this test's own, for tests that stop or freeze it.
class PrivateDaemon {
public:
    PrivateDaemon() : m_dir(QDir::tempPath() + QStringLiteral("/pulse-XXXXXX")) {}
    ~PrivateDaemon() { run(QStringLiteral("stop")); }
    bool run(const QString& command) {
        return QProcess::execute(QStringLiteral(PULSE_TEST_DAEMON), {command, m_dir.path()}) == 0;
    }
    QString server() const { return QStringLiteral("unix:") + m_dir.path() + "/run/native"; }
    pid_t pid() const {
        QFile file(m_dir.filePath(QStringLiteral("pulse.pid")));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
    }

private:
    QTemporaryDir m_dir;
};

} // namespace

TEST(PulseConnectionFailure, NoServerAtTheAddressIsAbsent) {
    QTemporaryDir dir;
    PulseConnection connection(QStringLiteral("unix:") + dir.path() + "/nothing/native");
    const auto result = connection.sources();
    ASSERT_TRUE(std::holds_alternative<PulseError>(result));
    const auto error = std::get<PulseError>(result);
    EXPECT_EQ(error.kind, PulseError::Kind::serverAbsent);
    EXPECT_EQ(error.description,
              QStringLiteral("Could not connect to the sound server: Connection refused."));
    EXPECT_FALSE(connection.isConnected());
    EXPECT_FALSE(connection.clientIndex());
}

TEST(PulseConnectionFailure, ALostServerIsReportedAndARestartedOneIsPickedUp) {
    PrivateDaemon daemon;
    ASSERT_TRUE(daemon.run(QStringLiteral("start")));
    PulseConnection connection(daemon.server());
    ASSERT_TRUE(std::holds_alternative<QList<PulseSource>>(connection.sources()));
    EXPECT_TRUE(connection.isConnected());
    EXPECT_TRUE(connection.clientIndex());

    ASSERT_TRUE(daemon.run(QStringLiteral("stop")));
    const auto lost = connection.sinkInputs();
    ASSERT_TRUE(std::holds_alternative<PulseError>(lost));
    EXPECT_EQ(std::get<PulseError>(lost).kind, PulseError::Kind::serverGone);
    EXPECT_TRUE(std::get<PulseError>(lost).description.startsWith(
        QStringLiteral("The connection to the sound server was lost: ")));
    EXPECT_FALSE(connection.isConnected());

    ASSERT_TRUE(daemon.run(QStringLiteral("start")));
    const auto back = connection.serverInfo();
    ASSERT_TRUE(std::holds_alternative<PulseServerInfo>(back));
    EXPECT_EQ(std::get<PulseServerInfo>(back).defaultSourceName, QStringLiteral("fakemic"));
    EXPECT_EQ(std::get<PulseServerInfo>(back).defaultSinkName, QStringLiteral("speakers"));
}

TEST(PulseConnectionFailure, AFrozenServerTimesOutAndIsUsableWhenItThaws) {
    PrivateDaemon daemon;
    ASSERT_TRUE(daemon.run(QStringLiteral("start")));
    PulseConnection connection(daemon.server());
    ASSERT_TRUE(std::holds_alternative<QList<PulseClient>>(connection.clients()));
    ASSERT_GT(daemon.pid(), 0);

    ::kill(daemon.pid(), SIGSTOP);
    QElapsedTimer clock;
    clock.start();
    const auto frozen = connection.sources();
    const qint64 waited = clock.elapsed();
    ::kill(daemon.pid(), SIGCONT);
    ASSERT_TRUE(std::holds_alternative<PulseError>(frozen));
    EXPECT_EQ(std::get<PulseError>(frozen).kind, PulseError::Kind::serverUnresponsive);
    EXPECT_EQ(std::get<PulseError>(frozen).description,
              QStringLiteral("The sound server did not answer in time."));
    EXPECT_GE(waited, PulseConnection::queryTimeoutMs - 50);
    EXPECT_LT(waited, PulseConnection::queryTimeoutMs + 2000);

    const auto thawed = connection.sources();
    ASSERT_TRUE(std::holds_alternative<QList<PulseSource>>(thawed));
    EXPECT_EQ(std::get<QList<PulseSource>>(thawed).size(), 6);
}

// The harness must not hang on a daemon that ignores TERM: it is killed after three seconds.
TEST(PulseTestDaemon, AFrozenDaemonIsKilledOnStop) {
    PrivateDaemon daemon;
    ASSERT_TRUE(daemon.run(QStringLiteral("start")));
    const pid_t pid = daemon.pid();
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGSTOP);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(daemon.run(QStringLiteral("stop")));
    EXPECT_GE(clock.elapsed(), 2900);
    EXPECT_LT(clock.elapsed(), 8000);
    // Gone, or a zombie nobody has reaped yet: either way it serves nothing any more.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        EXPECT_EQ(line.mid(line.lastIndexOf(')') + 2, 1), QByteArray("Z"));
    }
}
