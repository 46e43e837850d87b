#include "audio/SoundServerListing.h"
#include "audio/OutputChoice.h"

#include <gtest/gtest.h>

namespace {

using SoundServerListing::Self;

const Self self{4242, QStringLiteral("com.brisendo.corvinel")};

PulseSource source(uint32_t index, const char* name, const char* description, int channels,
                   std::optional<uint32_t> monitorOf = std::nullopt) {
    return {index,    QString::fromUtf8(name), QString::fromUtf8(description), channels, 48000,
            monitorOf};
}

PulseProperties program(const char* binary, int pid, const char* name = nullptr,
                        const char* appID = nullptr) {
    PulseProperties properties;
    if (binary)
        properties.insert(QStringLiteral("application.process.binary"), QString::fromUtf8(binary));
    if (pid >= 0)
        properties.insert(QStringLiteral("application.process.id"), QString::number(pid));
    if (name)
        properties.insert(QStringLiteral("application.name"), QString::fromUtf8(name));
    if (appID)
        properties.insert(QStringLiteral("application.id"), QString::fromUtf8(appID));
    return properties;
}

PulseClient client(uint32_t index, PulseProperties properties) {
    return {index, properties.value(QStringLiteral("application.name")), properties,
            QStringLiteral("protocol-native.c")};
}

PulseSinkInput stream(uint32_t index, std::optional<uint32_t> clientIndex,
                      PulseProperties properties = {}, bool corked = false) {
    return {index, clientIndex, 0, corked, properties};
}

QStringList names(const QList<AudioProcessInfo>& list) {
    QStringList result;
    for (const auto& entry : list)
        result << entry.name;
    return result;
}

QStringList names(const QList<AudioInputDevice>& list) {
    QStringList result;
    for (const auto& entry : list)
        result << entry.name;
    return result;
}

} // namespace

TEST(InputDeviceListing, ListsSourcesThatAreNotMonitorsSortedByName) {
    const QList<PulseSource> sources = {
        source(0, "speakers.monitor", "Monitor of FakeSpeakers", 2, 0),
        source(3, "fakemic", "FakeMic", 1),
        source(5, "iface4", "FakeInterface4ch", 4),
        source(6, "silent", "No Channels", 0),
        source(7, "unnamed", "", 2),
        source(8, "usb", "beta.app", 2),
        source(9, "usb2", "Alpha", 2),
    };
    const auto devices = SoundServerListing::inputDevices(sources);
    EXPECT_EQ(names(devices),
              QStringList({"Alpha", "beta.app", "Device 7", "FakeInterface4ch", "FakeMic"}));
    const AudioInputDevice expected{5, QStringLiteral("iface4"), QStringLiteral("FakeInterface4ch"),
                                    4, 48000.0};
    EXPECT_EQ(devices[3], expected);
    EXPECT_EQ(devices[3].label(), QStringLiteral("FakeInterface4ch — 4 ch @ 48000 Hz"));
}

TEST(InputDeviceListing, EqualNamesKeepTheServersOrder) {
    const QList<PulseSource> sources = {source(1, "b", "zoom", 1), source(2, "a", "Zoom", 1),
                                        source(3, "c", "ZOOM", 1), source(4, "d", "Yak", 1)};
    const auto devices = SoundServerListing::inputDevices(sources);
    ASSERT_EQ(devices.size(), 4);
    EXPECT_EQ(devices[0].uid, QStringLiteral("d"));
    EXPECT_EQ(devices[1].uid, QStringLiteral("b"));
    EXPECT_EQ(devices[2].uid, QStringLiteral("a"));
    EXPECT_EQ(devices[3].uid, QStringLiteral("c"));
}

TEST(InputDeviceListing, DefaultIsTheListedDeviceWithTheDefaultSourceName) {
    const auto devices = SoundServerListing::inputDevices(
        {source(0, "speakers.monitor", "Monitor", 2, 0), source(3, "fakemic", "FakeMic", 1)});
    const struct {
        const char* defaultSource;
        std::optional<uint32_t> id;
    } rows[] = {{"fakemic", 3},
                {"speakers.monitor", std::nullopt},
                {"", std::nullopt},
                {"gone", std::nullopt}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.defaultSource);
        PulseServerInfo server;
        server.defaultSourceName = QString::fromUtf8(row.defaultSource);
        const auto found = SoundServerListing::defaultInputDevice(devices, server);
        EXPECT_EQ(found ? std::optional<uint32_t>(found->id) : std::nullopt, row.id);
    }
}

TEST(AppListing, BundleIdentifierAndProcessIDComeFromTheProperties) {
    const struct {
        PulseProperties properties;
        const char* bundle;
        int32_t pid;
    } rows[] = {
        {program("pacat", 12, "FakeZoom", "us.zoom.Zoom"), "us.zoom.Zoom", 12},
        {program("firefox-esr", 7), "firefox-esr", 7},
        {program(nullptr, -1, "Nameless"), "", -1},
        {{{QStringLiteral("application.process.id"), QStringLiteral("abc")}}, "", -1},
        {{{QStringLiteral("application.process.id"), QStringLiteral("-3")}}, "", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bundle);
        EXPECT_EQ(SoundServerListing::bundleID(row.properties), QString::fromUtf8(row.bundle));
        EXPECT_EQ(SoundServerListing::processID(row.properties), row.pid);
    }
}

TEST(AppListing, PlayingProcessesAreUncorkedClientStreamsWithoutThisApp) {
    const QList<PulseClient> clients = {
        client(1, program("pacat", 100, "FakeZoom", "us.zoom.Zoom")),
        client(2, program("pacat", 200, "Paused")),
        client(3, program("audio_tests", self.pid, "Corvinel", "com.brisendo.corvinel")),
        client(4, program("other", 300, "Impostor", "com.brisendo.corvinel")),
    };
    const QList<PulseSinkInput> inputs = {
        stream(10, 1, program("pacat", 100, "FakeZoom", "us.zoom.Zoom")),
        stream(11, 2, program("pacat", 200, "Paused"), true),
        stream(12, 3, program("audio_tests", self.pid, "Corvinel", "com.brisendo.corvinel")),
        stream(13, 4, program("other", 300, "Impostor", "com.brisendo.corvinel")),
        stream(14, std::nullopt, {}),
    };
    const auto playing = SoundServerListing::runningAudioProcesses(inputs, clients, self);
    ASSERT_EQ(playing.size(), 1);
    const AudioProcessInfo expected{10, 100, QStringLiteral("us.zoom.Zoom"),
                                    QStringLiteral("FakeZoom")};
    EXPECT_EQ(playing[0], expected);
}

TEST(AppListing, NameFallsBackToTheBundleIdentifiersLastPartThenToThePID) {
    const struct {
        PulseProperties streamProperties;
        const char* name;
    } rows[] = {
        {program(nullptr, 50, nullptr, "org.example.Player"), "Player"},
        {program(nullptr, 51, nullptr, "org.example."), "example"},
        {program("mpv", 52), "mpv"},
        {program(nullptr, 53, nullptr, "..."), "PID 53"},
        {program(nullptr, -1), "PID -1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // The stream's client has no program binary, so no running application carries a name.
        const auto playing = SoundServerListing::runningAudioProcesses(
            {stream(20, 9, row.streamProperties)}, {client(9, {})}, self);
        ASSERT_EQ(playing.size(), 1);
        EXPECT_EQ(playing[0].name, QString::fromUtf8(row.name));
    }
}

TEST(AppListing, StreamFieldsMissingFromTheStreamComeFromItsClient) {
    const auto playing = SoundServerListing::runningAudioProcesses(
        {stream(30, 5, {})}, {client(5, program("pacat", 77, "Meet", "com.example.meet"))}, self);
    ASSERT_EQ(playing.size(), 1);
    const AudioProcessInfo expected{30, 77, QStringLiteral("com.example.meet"),
                                    QStringLiteral("Meet")};
    EXPECT_EQ(playing[0], expected);
}

TEST(AppListing, PlayingProcessesSortByNameIgnoringCase) {
    const QList<PulseClient> clients = {client(1, program("b", 1, "beta.app")),
                                        client(2, program("a", 2, "Alpha")),
                                        client(3, program("c", 3, "alpha"))};
    const auto playing = SoundServerListing::runningAudioProcesses({stream(10, 1, program("b", 1)),
                                                                    stream(11, 2, program("a", 2)),
                                                                    stream(12, 3, program("c", 3))},
                                                                   clients, self);
    EXPECT_EQ(names(playing), QStringList({"Alpha", "alpha", "beta.app"}));
}

TEST(AppListing, SelectableAppsArePlayingFirstThenTheOtherPrograms) {
    const QList<PulseClient> clients = {
        client(1, program("pacat", 100, "zoom client", "us.zoom.Zoom")),
        client(2, program("pacat", 101, "Second Zoom Stream", "us.zoom.Zoom")),
        client(3, program("parec", 200, "Silent", "org.example.Silent")),
        client(4, program("chromium", 300, "Chromium")),
        client(5, program("chromium", 301, "Chromium helper")),
        client(6, program("audio_tests", self.pid, "Corvinel")),
        client(7, program("tool", 400)),
        client(8, program(nullptr, 500, "No binary", "org.example.nobinary")),
        client(9, program("ALSA plug-in [aplay]", 600, "aardvark", "")),
    };
    const QList<PulseSinkInput> inputs = {
        stream(40, 1, program("pacat", 100, "zoom client", "us.zoom.Zoom")),
        stream(41, 2, program("pacat", 101, "Second Zoom Stream", "us.zoom.Zoom")),
    };
    const auto playing = SoundServerListing::runningAudioProcesses(inputs, clients, self);
    ASSERT_EQ(playing.size(), 2);
    const auto apps = SoundServerListing::selectableApps(playing, clients, self);

    QList<AudioProcessInfo> expected = {
        {41, 101, QStringLiteral("us.zoom.Zoom"), QStringLiteral("Second Zoom Stream")},
        {std::nullopt, 600, QStringLiteral("ALSA plug-in [aplay]"), QStringLiteral("aardvark")},
        {std::nullopt, 300, QStringLiteral("chromium"), QStringLiteral("Chromium")},
        {std::nullopt, 200, QStringLiteral("org.example.Silent"), QStringLiteral("Silent")},
        {std::nullopt, 400, QStringLiteral("tool"), QStringLiteral("tool")},
    };
    EXPECT_EQ(apps, expected);
}

TEST(AppListing, ASilentProgramMovesToTheFirstGroupOnceItPlays) {
    const QList<PulseClient> clients = {
        client(1, program("pacat", 100, "Alpha Player", "org.example.alpha")),
        client(2, program("parec", 200, "Zed", "org.example.zed")),
    };
    QList<PulseSinkInput> inputs = {
        stream(40, 1, program("pacat", 100, "Alpha Player", "org.example.alpha"))};
    auto apps = SoundServerListing::selectableApps(
        SoundServerListing::runningAudioProcesses(inputs, clients, self), clients, self);
    ASSERT_EQ(apps.size(), 2);
    EXPECT_EQ(apps[1].bundleID, QStringLiteral("org.example.zed"));
    EXPECT_FALSE(apps[1].objectID);

    inputs.append(stream(41, 2, program("parec", 200, "Zed", "org.example.zed")));
    apps = SoundServerListing::selectableApps(
        SoundServerListing::runningAudioProcesses(inputs, clients, self), clients, self);
    ASSERT_EQ(apps.size(), 2);
    EXPECT_EQ(apps[1].bundleID, QStringLiteral("org.example.zed"));
    EXPECT_EQ(apps[1].objectID, std::optional<uint32_t>(41));
}

TEST(AppListing, TheSoundServersOwnPartsAreRecognised) {
    PulseProperties role;
    role.insert(QStringLiteral("media.role"), QStringLiteral("abstract"));
    PulseProperties phone = program("zoom", 70, "Zoom Meetings");
    phone.insert(QStringLiteral("media.role"), QStringLiteral("phone"));
    const struct {
        const char* what;
        PulseProperties properties;
        const char* driver;
        bool server;
    } rows[] = {
        {"pipewire", program("pipewire", 10, "pipewire"), "PipeWire", true},
        {"wireplumber export", program("wireplumber", 11, "WirePlumber [export]"), "", true},
        {"pipewire-pulse by name", program(nullptr, 12, "pipewire-pulse"), "", true},
        {"pulseaudio", program("PulseAudio", 13), "", true},
        {"session manager", program("pipewire-media-session", 14), "", true},
        {"module client", program(nullptr, -1, "Login Session 2"), "module-systemd-login.c", true},
        {"loopback stream", role, "", true},
        {"meeting app", program("zoom", 70, "Zoom Meetings", "us.zoom.Zoom"), "PipeWire", false},
        {"call with a role", phone, "protocol-native.c", false},
        {"name merely starting alike", program("pipewirer", 71, "Pipewire Tools Demo"), "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(
            SoundServerListing::isSoundServerPart(row.properties, QString::fromUtf8(row.driver)),
            row.server);
    }
}

TEST(AppListing, TheSoundServersOwnClientsAndStreamsAreNeverOffered) {
    PulseClient module = client(4, program(nullptr, -1, "Login Session 2"));
    module.properties.insert(QStringLiteral("application.process.binary"), QStringLiteral("x"));
    module.driver = QStringLiteral("module-systemd-login.c");
    PulseProperties loopback = program("pacat", 100);
    loopback.insert(QStringLiteral("media.role"), QStringLiteral("filter"));
    const QList<PulseClient> clients = {
        client(1, program("pacat", 100, "Zoom Meetings", "us.zoom.Zoom")),
        client(2, program("pipewire", 5, "pipewire")),
        client(3, program("wireplumber", 6, "WirePlumber")),
        module,
    };
    const QList<PulseSinkInput> inputs = {
        stream(10, 1, program("pacat", 100, "Zoom Meetings", "us.zoom.Zoom")),
        stream(11, 2, {}),
        stream(12, 3, program(nullptr, 6)),
        stream(13, 1, loopback),
    };
    const auto playing = SoundServerListing::runningAudioProcesses(inputs, clients, self);
    ASSERT_EQ(playing.size(), 1);
    EXPECT_EQ(playing[0].objectID, std::optional<uint32_t>(10));
    const auto apps = SoundServerListing::selectableApps(playing, clients, self);
    EXPECT_EQ(names(apps), QStringList({"Zoom Meetings"}));
}

// Which output "what this computer plays" records. Outputs: speakers (the default), headset
// and feed; a call app is client 1, a music player client 2, this program client 3.
TEST(OutputChoice, TheOutputWhereApplicationsPlayWinsOverASilentDefault) {
    const PulseClient call = client(1, program("zoom", 100));
    const PulseClient music = client(2, program("rhythmbox", 200));
    const PulseClient own = client(3, program("corvinel", self.pid));
    const auto on = [](uint32_t index, uint32_t sink, std::optional<uint32_t> from,
                       bool corked = false) {
        return PulseSinkInput{index, from, sink, corked, {}};
    };
    const auto recorder = [](uint32_t source, PulseProperties who) {
        return PulseSourceOutput{90, std::nullopt, source, who};
    };
    struct Row {
        const char* what;
        QList<PulseSinkInput> streams;
        QList<PulseSourceOutput> recordings;
        QString current;
        QString namedLike;
        const char* expected;
    };
    const QList<Row> rows = {
        {"nothing plays", {}, {}, {}, {}, "speakers"},
        {"call on the headset", {on(5, 1, 1)}, {}, {}, {}, "headset"},
        {"both play: the default", {on(5, 1, 1), on(6, 0, 2)}, {}, {}, {}, "speakers"},
        {"kept while it plays", {on(5, 1, 1), on(6, 0, 2)}, {}, "headset", {}, "headset"},
        {"left when it went quiet", {on(6, 0, 2)}, {}, "headset", {}, "speakers"},
        {"stays when nothing plays", {}, {}, "headset", {}, "headset"},
        {"gone output forgotten", {}, {}, "usb", {}, "speakers"},
        {"paused stream", {on(5, 1, 1, true)}, {}, {}, {}, "speakers"},
        {"server's own stream", {on(5, 1, std::nullopt)}, {}, {}, {}, "speakers"},
        {"own stream", {on(5, 1, 3)}, {}, {}, {}, "speakers"},
        {"the busiest", {on(5, 1, 1), on(6, 1, 2), on(7, 2, 2)}, {}, {}, {}, "headset"},
        {"a monitor others record is plumbing",
         {on(7, 2, 2)},
         {recorder(12, program("easyeffects", 300))},
         {},
         {},
         "speakers"},
        {"the default is heard though others record it",
         {on(5, 1, 1), on(6, 0, 2)},
         {recorder(10, program("easyeffects", 300))},
         {},
         {},
         "speakers"},
        {"a module's recording too", {on(7, 2, 2)}, {recorder(12, {})}, {}, {}, "speakers"},
        {"our own recording is not", {on(7, 2, 2)}, {recorder(12, own.properties)}, {}, {}, "feed"},
        {"named by the user", {on(6, 0, 2)}, {}, {}, QStringLiteral("HEAD"), "headset"},
    };
    for (const Row& row : rows) {
        OutputChoice::Listing listing;
        listing.defaultOutput = QStringLiteral("speakers");
        listing.outputs = {{0, u"speakers"_qs, u"Speakers"_qs, u"speakers.monitor"_qs, 10},
                           {1, u"headset"_qs, u"USB Headset"_qs, u"headset.monitor"_qs, 11},
                           {2, u"feed"_qs, u"Feed"_qs, u"feed.monitor"_qs, 12}};
        listing.streams = row.streams;
        listing.clients = {call, music, own};
        listing.recordings = row.recordings;
        const auto chosen = OutputChoice::choose(listing, self, row.namedLike, row.current);
        ASSERT_TRUE(chosen) << row.what;
        EXPECT_EQ(chosen->name, QString::fromUtf8(row.expected)) << row.what;
    }
    EXPECT_FALSE(OutputChoice::choose({}, self));
}
