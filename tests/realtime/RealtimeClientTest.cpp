#include "realtime/RealtimeClient.h"
#include "realtime/RealtimeProtocol.h"
#include "support/FakeRealtimeServer.h"
#include "support/StrictRealtimeService.h"
#include "support/TestHome.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <new>
#include <thread>

using Status = RealtimeClient::Status;
using namespace std::chrono_literals;

void PrintTo(const Status& status, std::ostream* out) {
    static const char* names[] = {"idle", "connecting", "connected", "reconnecting", "failed"};
    *out << names[int(status.kind)];
    if (status.isFailed())
        *out << "(" << status.message.toStdString() << ")";
}

// Counts what this thread allocates with `new` while it is on (QByteArray's bytes come from
// malloc and are not counted).
static thread_local bool countingNew = false;
static thread_local int newCounted = 0;

void* operator new(std::size_t size) {
    if (countingNew)
        ++newCounted;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

RealtimeTiming fastTiming() {
    RealtimeTiming timing;
    timing.backoffUnit = 1ms;
    timing.pingInterval = 1h;
    timing.pongTimeout = 2s;
    timing.cycleMinute = 1h;
    timing.handshakeTimeout = 5s;
    return timing;
}

QList<RealtimeClient::HistoryPair> pairs(int count) {
    QList<RealtimeClient::HistoryPair> result;
    for (int i = 1; i <= count; ++i)
        result.append({QStringLiteral("Question %1?").arg(i), QStringLiteral("Answer %1.").arg(i)});
    return result;
}

// The (role, content type, text) of each conversation item, in order.
QStringList itemsOf(const QList<QJsonObject>& frames) {
    QStringList items;
    for (const QJsonObject& frame : frames) {
        const QJsonObject item = frame.value(QStringLiteral("item")).toObject();
        const QJsonObject part = item.value(QStringLiteral("content")).toArray().at(0).toObject();
        items.append(item.value(QStringLiteral("role")).toString() + u'/' +
                     part.value(QStringLiteral("type")).toString() + u'/' +
                     part.value(QStringLiteral("text")).toString());
    }
    return items;
}

QByteArray audioOf(const QJsonObject& frame) {
    return QByteArray::fromBase64(frame.value(QStringLiteral("audio")).toString().toLatin1());
}

class RealtimeClientTest : public ::testing::Test {
protected:
    explicit RealtimeClientTest(
        FakeRealtimeServer::Transport transport = FakeRealtimeServer::Transport::plain)
        : server(transport) {}

    void SetUp() override {
        ASSERT_TRUE(server.listen());
        home.setEnv("OV_REALTIME_URL", server.url().toString().toUtf8());
        makeClient();
    }

    // A failing case shows what the client said along the way.
    void TearDown() override {
        if (HasFailure() || qEnvironmentVariableIsSet("CORVINEL_DUMP_REALTIME"))
            std::cerr << "client events:\n  " << events.join(QStringLiteral("\n  ")).toStdString()
                      << "\n";
    }

    void makeClient(const RealtimeTiming& timing = fastTiming(),
                    std::optional<QSslConfiguration> ssl = std::nullopt) {
        client = std::make_unique<RealtimeClient>(RealtimeClient::Options{timing, std::move(ssl)});
        const auto record = [this](const QString& line) {
            EXPECT_EQ(QThread::currentThread(), qApp->thread());
            events.append(line);
        };
        client->onStatus = [this, record](const Status& status) {
            statuses.append(status);
            std::stringstream text;
            PrintTo(status, &text);
            record(QStringLiteral("status:") + QString::fromStdString(text.str()));
        };
        client->onLog = [this, record](const QString& line) {
            logs.append(line);
            record(QStringLiteral("log:") + line);
        };
        client->onTranscript = [record](const QString& id, const QString& text) {
            record(QStringLiteral("transcript:%1:%2").arg(id, text));
        };
        client->onResponseCreated = [record](const QString& id, const QString& item,
                                             const QString& card) {
            record(QStringLiteral("created:%1:%2").arg(id, item) +
                   (card.isEmpty() ? QString() : QStringLiteral(":card=") + card));
        };
        client->onTurnWaiting = [record](const QString& item) {
            record(QStringLiteral("waiting:") + item);
        };
        client->onAnswerRefused = [record](const QString& item, const QString& card,
                                           const QString& code, const QString&) {
            record(QStringLiteral("refused:%1:%2:%3").arg(item, card, code));
        };
        client->onTranscriptDelta = [record](const QString& item, const QString& delta) {
            record(QStringLiteral("heard:%1:%2").arg(item, delta));
        };
        client->onTranscriptionModelReplaced = [record](const QString& refused,
                                                        const QString& used) {
            record(QStringLiteral("transcription_model:%1->%2").arg(refused, used));
        };
        client->onDelta = [record](const QString& id, const QString& delta) {
            record(QStringLiteral("delta:%1:%2").arg(id, delta));
        };
        client->onUsage = [record](const QJsonObject& usage) {
            record(QStringLiteral("usage:") +
                   QString::fromUtf8(QJsonDocument(usage).toJson(QJsonDocument::Compact)));
        };
        client->onTranscriptionUsage = [record](const QJsonObject& usage) {
            record(QStringLiteral("transcription_usage:") +
                   QString::fromUtf8(QJsonDocument(usage).toJson(QJsonDocument::Compact)));
        };
        client->onResponseDone = [record](const QString& id) {
            record(QStringLiteral("done:") + id);
        };
        client->onResponseUnfinished = [record](const QString& id,
                                                const RealtimeClient::ResponseEnd& end) {
            record(QStringLiteral("unfinished:%1:%2:%3:%4")
                       .arg(id, end.status, end.reason, end.message));
        };
        client->onTranscriptionFailed = [record](const QString& id, const QString& message) {
            record(QStringLiteral("transcription_failed:%1:%2").arg(id, message));
        };
        client->onServiceError = [record](const QString& code, const QString& message) {
            record(QStringLiteral("service_error:%1:%2").arg(code, message));
        };
    }

    // A client on the fast timing with some of its waits changed.
    void makeClient(const std::function<void(RealtimeTiming&)>& change) {
        RealtimeTiming timing = fastTiming();
        change(timing);
        makeClient(timing);
    }

    RealtimeClient::Config config() const {
        RealtimeClient::Config config;
        config.apiKey = QStringLiteral("sk-test");
        config.model = QStringLiteral("gpt-realtime");
        config.transcribeModel = QStringLiteral("gpt-4o-mini-transcribe");
        config.instructions = QStringLiteral("Answer as the candidate.");
        config.reconnectMinutes = 25;
        return config;
    }

    static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
        return QTest::qWaitFor(condition, timeoutMs);
    }

    bool waitForStatus(const Status& status, int count = 1) {
        return waitFor([&] { return statuses.count(status) >= count; });
    }

    bool waitForLog(const QString& prefix, int count = 1) {
        return waitFor([&] {
            return std::count_if(logs.begin(), logs.end(),
                                 [&](const QString& l) { return l.startsWith(prefix); }) >= count;
        });
    }

    int logCount(const QString& prefix) const {
        return int(std::count_if(logs.begin(), logs.end(),
                                 [&](const QString& l) { return l.startsWith(prefix); }));
    }

    // Everything the client did before this point has reached the main thread once the marker
    // transcript, sent after it, has.
    void sync() {
        const QString id = QStringLiteral("sync-%1").arg(++m_syncs);
        server.sendTranscript(id, QStringLiteral("marker"));
        ASSERT_TRUE(waitFor(
            [&] { return events.contains(QStringLiteral("transcript:%1:marker").arg(id)); }));
        events.removeAll(QStringLiteral("transcript:%1:marker").arg(id));
    }

    // Starts and answers the configuration, as the service does.
    void connectConfigured(const RealtimeClient::Config& cfg) {
        const int connections = server.connectionCount();
        const int updates = int(server.frames(QStringLiteral("session.update")).size());
        client->start(cfg);
        ASSERT_TRUE(server.waitForConnections(connections + 1));
        ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), updates + 1));
        const int connected = int(statuses.count(Status::connected()));
        server.sendSessionUpdated();
        ASSERT_TRUE(waitForStatus(Status::connected(), connected + 1));
    }
    void connectConfigured() { connectConfigured(config()); }

    TestHome home;
    FakeRealtimeServer server;
    std::unique_ptr<RealtimeClient> client;
    QList<Status> statuses;
    QStringList logs;
    QStringList events;

private:
    int m_syncs = 0;
};

// --- opening and configuration -------------------------------------------------------------

TEST_F(RealtimeClientTest, OpensWithTheModelQueryAndOnlyTheAuthorizationHeader) {
    RealtimeClient::Config cfg = config();
    cfg.apiKey = QStringLiteral("  sk-test\n"); // as pasted into OPENAI_API_KEY
    client->start(cfg);
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 1));
    EXPECT_EQ(server.requestTarget(), QStringLiteral("/v1/realtime?model=gpt-realtime"));
    const auto headers = server.requestHeaders();
    EXPECT_EQ(headers.value("authorization"), QByteArray("Bearer sk-test"));
    EXPECT_FALSE(headers.contains("openai-beta"));
    EXPECT_EQ(server.frames().first(), RealtimeProtocol::sessionUpdate(cfg, false));
    ASSERT_TRUE(waitForLog(QStringLiteral("WebSocket open")));

    server.sendSessionCreated(); // the configuration is already on its way: once per socket
    server.sendSessionUpdated();
    ASSERT_TRUE(waitForStatus(Status::connected()));
    sync();
    EXPECT_EQ(server.frames(QStringLiteral("session.update")).size(), 1);
    EXPECT_EQ(statuses, (QList<Status>{Status::connecting(), Status::connected()}));
}

TEST_F(RealtimeClientTest, SecondSessionUpdatedChangesNothing) {
    client->updateHistory(pairs(2));
    connectConfigured();
    client->updateInstructions(QStringLiteral("Be brief."));
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 2));
    const QJsonObject update = server.frames(QStringLiteral("session.update")).last();
    EXPECT_EQ(
        update.value(QStringLiteral("session")).toObject().value(QStringLiteral("instructions")),
        QJsonValue(QStringLiteral("Be brief.")));
    server.sendSessionUpdated();
    sync();
    EXPECT_EQ(statuses.count(Status::connected()), 1);
    EXPECT_EQ(server.frames(QStringLiteral("conversation.item.create")).size(), 4);
    EXPECT_EQ(logCount(QStringLiteral("Seeded")), 1);
    EXPECT_EQ(logCount(QStringLiteral("Instructions updated live")), 1);
}

// Instructions before the start change nothing; while configuring, they go with the handshake.
TEST_F(RealtimeClientTest, InstructionsWhileConfiguringTakeEffectWithTheHandshake) {
    client->updateInstructions(QStringLiteral("Ignored."));
    client->start(config());
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 1));
    EXPECT_EQ(server.frames().size(), 1);
    EXPECT_EQ(server.frames().first(), RealtimeProtocol::sessionUpdate(config(), false));
    client->updateInstructions(QStringLiteral("Newer."));
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 2));
    RealtimeClient::Config expected = config();
    expected.instructions = QStringLiteral("Newer.");
    EXPECT_EQ(server.frames(QStringLiteral("session.update")).at(1),
              RealtimeProtocol::sessionUpdate(expected, false));
    EXPECT_EQ(logCount(QStringLiteral("Instructions updated live")), 0);
}

TEST_F(RealtimeClientTest, CapitalisedUnknownParameterFallsBackToLegacyOnceThenFails) {
    client->start(config());
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 1));
    server.sendError(QStringLiteral("Unknown parameter: 'session.type'."));
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 2));
    EXPECT_EQ(server.frames(QStringLiteral("session.update")).at(1),
              RealtimeProtocol::sessionUpdate(config(), true));
    EXPECT_TRUE(logs.contains(QStringLiteral("Falling back to legacy session shape")));

    // What the service refused first is what the user is told.
    server.sendError(QStringLiteral("Unknown parameter: 'session.modalities'."));
    const Status failed = Status::failed(QStringLiteral("Unknown parameter: 'session.type'."));
    ASSERT_TRUE(waitForStatus(failed));
    EXPECT_TRUE(
        logs.contains(QStringLiteral("API error: Unknown parameter: 'session.modalities'.")));
    EXPECT_EQ(server.frames(QStringLiteral("session.update")).size(), 2);
    EXPECT_EQ(logCount(QStringLiteral("Falling back")), 1);
}

TEST_F(RealtimeClientTest, LegacyShapeLastsForTheRunAndResetsOnStart) {
    server.setAutoConfigure(false);
    client->start(config());
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 1));
    server.sendError(QStringLiteral("additional properties not allowed"));
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 2));
    server.sendSessionUpdated();
    ASSERT_TRUE(waitForStatus(Status::connected()));

    server.clearFrames();
    server.dropConnection();
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 1));
    EXPECT_EQ(server.frames().first(), RealtimeProtocol::sessionUpdate(config(), true));

    server.clearFrames();
    client->start(config());
    ASSERT_TRUE(server.waitForConnections(3));
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 1));
    EXPECT_EQ(server.frames().first(), RealtimeProtocol::sessionUpdate(config(), false));
}

TEST_F(RealtimeClientTest, ErrorAfterConfigurationIsReportedAndKeepsTheSession) {
    connectConfigured();
    server.sendError(QStringLiteral("Unknown parameter: 'foo'."));
    server.sendText(QStringLiteral(
        R"({"type":"error","error":{"code":"insufficient_quota","message":"No credit."}})"));
    sync();
    EXPECT_TRUE(logs.contains(QStringLiteral("API error: Unknown parameter: 'foo'.")));
    EXPECT_TRUE(events.contains(QStringLiteral("service_error::Unknown parameter: 'foo'.")));
    EXPECT_TRUE(events.contains(QStringLiteral("service_error:insufficient_quota:No credit.")));
    EXPECT_EQ(statuses.last(), Status::connected());
    EXPECT_TRUE(server.isConnected());
    EXPECT_EQ(server.frames(QStringLiteral("session.update")).size(), 1);
}

TEST_F(RealtimeClientTest, ErrorWithoutMessageFailsBeforeConfiguration) {
    client->start(config());
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 1));
    server.send({{QStringLiteral("type"), QStringLiteral("error")}});
    ASSERT_TRUE(waitForStatus(Status::failed(QStringLiteral("unknown realtime error"))));
}

TEST_F(RealtimeClientTest, OutputTextErrorReseedsWithTextPartsOnce) {
    client->updateHistory({{QStringLiteral("Q1"), QStringLiteral("A1")},
                           {QStringLiteral("Q2"), QStringLiteral("A2")}});
    connectConfigured();
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("conversation.item.create"), 4));
    EXPECT_EQ(itemsOf(server.frames(QStringLiteral("conversation.item.create"))),
              (QStringList{"user/input_text/Q1", "assistant/output_text/A1", "user/input_text/Q2",
                           "assistant/output_text/A2"}));

    // Only the answers go again, each placed after its own question: no question is asked twice.
    const QString firstQuestion =
        server.frames().at(1).value("item").toObject().value("id").toString();
    server.clearFrames();
    server.sendError(QStringLiteral("Invalid value: 'output_text'. Supported values are: 'text'."));
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("conversation.item.create"), 2));
    sync();
    EXPECT_EQ(itemsOf(server.frames(QStringLiteral("conversation.item.create"))),
              (QStringList{"assistant/text/A1", "assistant/text/A2"}));
    EXPECT_EQ(server.frames().first().value("previous_item_id").toString(), firstQuestion);
    EXPECT_TRUE(
        logs.contains(QStringLiteral("Re-seeding history with legacy assistant content type")));

    server.sendError(QStringLiteral("Invalid value: 'output_text'."));
    sync();
    EXPECT_EQ(server.frames(QStringLiteral("conversation.item.create")).size(), 2);
    EXPECT_TRUE(logs.contains(QStringLiteral("API error: Invalid value: 'output_text'.")));
    EXPECT_EQ(statuses.last(), Status::connected());

    // The switch holds for later sockets too.
    server.clearFrames();
    server.setAutoConfigure(true);
    server.dropConnection();
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("conversation.item.create"), 4));
    EXPECT_EQ(itemsOf(server.frames(QStringLiteral("conversation.item.create"))).at(1),
              QStringLiteral("assistant/text/A1"));
}

// --- events to callbacks -------------------------------------------------------------------

TEST_F(RealtimeClientTest, EventsBecomeCallbacksInOrderOnTheMainThread) {
    connectConfigured();
    events.clear();
    const char* frames[] = {
        R"({"type":"conversation.item.input_audio_transcription.delta","item_id":"i1","delta":"Why"})",
        R"({"type":"conversation.item.input_audio_transcription.completed","item_id":"i1","transcript":" Why this role?\n"})",
        R"({"type":"conversation.item.input_audio_transcription.completed","item_id":"i2","transcript":" \n"})",
        R"({"type":"input_audio_buffer.committed","item_id":"i1","previous_item_id":null})",
        R"({"type":"response.created","response":{"id":"r1"}})",
        R"({"type":"response.output_item.added","response_id":"r1","item":{"id":"o1","role":"assistant"}})",
        R"({"type":"conversation.item.added","previous_item_id":"i1","item":{"id":"o1","role":"assistant"}})",
        R"({"type":"response.output_text.delta","response_id":"r1","delta":"Because"})",
        R"({"type":"response.output_text.delta","response_id":"r1","delta":""})",
        R"({"type":"response.text.delta","delta":" I"})",
        R"({"type":"rate_limits.updated","rate_limits":[]})",
        R"({"type":"response.done","response":{"id":"r1","usage":{"total_tokens":9}}})",
        R"({"type":"response.output_text.delta","response_id":"r1","delta":" late"})",
        R"({"type":"response.done"})",
        R"({"type":"response.created","response":{"id":"rq"}})",
        R"({"type":"response.done","response":{"id":"rq","status":"failed","status_details":{"type":"failed","error":{"code":"insufficient_quota","message":"No credit."}}}})",
        R"({"type":"conversation.item.input_audio_transcription.failed","item_id":"i3","error":{"message":"Unintelligible."}})",
        R"({"type":"response.output_text.delta","response_id":"r2","delta":"never announced"})"};
    for (const char* frame : frames)
        server.sendText(QString::fromUtf8(frame));
    server.sendText(QStringLiteral(R"({"type":"response.created","response":{"id":"r3"}})"));
    server.sendBinary(R"({"type":"response.output_text.delta","response_id":"r3","delta":"bin"})");
    server.sendResponseDone(QStringLiteral("r3"), {{QStringLiteral("total_tokens"), 4}});
    server.sendText(QStringLiteral(
        R"({"type":"conversation.item.input_audio_transcription.completed","item_id":"i4","transcript":"Go on?","usage":{"type":"duration","seconds":2}})"));
    server.sendText(QStringLiteral(
        R"({"type":"conversation.item.input_audio_transcription.completed","item_id":"i5","transcript":"","usage":{"total_tokens":1}})"));
    sync();
    // Text that names no response, comes after its answer ended, or belongs to an answer never
    // announced goes nowhere: it could only land on another question's card.
    EXPECT_EQ(events, (QStringList{"heard:i1:Why",
                                   "transcript:i1:Why this role?",
                                   "transcription_failed:i2:the transcript came back empty",
                                   "created:r1:i1",
                                   "delta:r1:Because",
                                   "log:Dropped answer text that named no response",
                                   "usage:{\"total_tokens\":9}",
                                   "done:r1",
                                   "log:Dropped text that came after its answer ended (r1)",
                                   "log:Ignored the end of an answer never announced (current)",
                                   "created:rq:",
                                   "unfinished:rq:failed:insufficient_quota:No credit.",
                                   "done:rq",
                                   "transcription_failed:i3:Unintelligible.",
                                   "log:Dropped text of an answer never announced (r2)",
                                   "created:r3:",
                                   "delta:r3:bin",
                                   "usage:{\"total_tokens\":4}",
                                   "done:r3",
                                   "transcription_usage:{\"seconds\":2,\"type\":\"duration\"}",
                                   "transcript:i4:Go on?",
                                   "transcription_usage:{\"total_tokens\":1}",
                                   "transcription_failed:i5:the transcript came back empty"}));
}

// --- the service's rules: one answer at a time -------------------------------------------

class StrictServiceTest : public RealtimeClientTest {
protected:
    void SetUp() override {
        RealtimeClientTest::SetUp();
        service = new StrictRealtimeService(server);
        client->start(config());
        ASSERT_TRUE(waitForStatus(Status::connected()));
        events.clear();
    }
    QStringList answers() const { return events.filter(QRegularExpression("^(created|waiting)")); }
    StrictRealtimeService* service = nullptr;
};

TEST_F(StrictServiceTest, TurnsHeardWhileAnAnswerStreamsAreEachAnsweredOnceItEnds) {
    const QString first = service->commitTurn();
    service->stream(QStringLiteral("Because"));
    const QString second = service->commitTurn(); // the service leaves these two unanswered
    const QString third = service->commitTurn();
    sync();
    service->finish();
    ASSERT_TRUE(waitFor([&] { return service->isResponding(); }));
    EXPECT_EQ(service->activeMetadata().value("item").toString(), second);
    service->finish();
    ASSERT_TRUE(waitFor([&] { return service->createdMetadata().size() == 3; }));
    service->finish();
    sync();
    const QStringList ids = service->createdIDs();
    EXPECT_EQ(answers(), (QStringList{"created:" + ids[0] + ":" + first, "waiting:" + second,
                                      "waiting:" + third, "created:" + ids[1] + ":" + second,
                                      "created:" + ids[2] + ":" + third}));
    EXPECT_EQ(service->errorCodes(), QStringList());
    // Every message can be matched to an error it causes.
    const QStringList sent = server.eventIds();
    EXPECT_FALSE(sent.contains(QString()));
    EXPECT_EQ(QSet<QString>(sent.begin(), sent.end()).size(), sent.size());
}

TEST_F(StrictServiceTest, ARegenerationWaitsForTheCancelToLand) {
    const QString turn = service->commitTurn();
    service->stream(QStringLiteral("First we"));
    sync();
    const QString old = service->activeResponse();
    client->cancelResponse(old);
    client->regenerate(QStringLiteral("CARD-1"), QStringLiteral("Why Rust and Go?"));
    ASSERT_TRUE(waitFor([&] { return service->createdMetadata().size() == 2; }));
    EXPECT_EQ(service->activeMetadata().value("card").toString(), QStringLiteral("CARD-1"));
    EXPECT_EQ(service->errorCodes(), QStringList()) << "nothing raced the cancel";
    EXPECT_EQ(server.frameTypes().filter(QStringLiteral("response.")),
              (QStringList{"response.cancel", "response.create"}));
    // A cancel of an answer that has ended sends nothing the service would refuse.
    client->cancelResponse(old);
    service->finish();
    sync();
    EXPECT_EQ(server.frames(QStringLiteral("response.cancel")).size(), 1);
    EXPECT_EQ(answers(), (QStringList{"created:" + old + ":" + turn,
                                      "created:" + service->createdIDs().at(1) + "::card=CARD-1"}));
}

TEST_F(StrictServiceTest, ARefusedRequestIsAskedAgainOnceTheConversationIsFree) {
    client->regenerate(QStringLiteral("CARD-2"), QStringLiteral("And the tests?"));
    const QString turn = service->commitTurn(); // its own answer starts before the request lands
    ASSERT_TRUE(waitFor([&] { return service->errorCodes().size() == 1; }));
    EXPECT_EQ(service->errorCodes().first(),
              QStringLiteral("conversation_already_has_active_response"));
    sync();
    service->finish();
    ASSERT_TRUE(waitFor([&] { return service->createdMetadata().size() == 2; }));
    EXPECT_EQ(service->activeMetadata().value("card").toString(), QStringLiteral("CARD-2"));
    service->finish();
    sync();
    EXPECT_EQ(server.frames(QStringLiteral("conversation.item.create")).size(), 1)
        << "the question is not asked twice";
    const QStringList created = events.filter(QStringLiteral("created:"));
    ASSERT_EQ(created.size(), 2);
    EXPECT_TRUE(created.first().endsWith(u':' + turn));
    EXPECT_TRUE(created.last().endsWith(QStringLiteral(":card=CARD-2")));
    EXPECT_FALSE(events.filter(QStringLiteral("refused")).size());
}

TEST_F(StrictServiceTest, ASkippedTurnIsNotAskedFor) {
    service->commitTurn();
    const QString merged = service->commitTurn();
    sync();
    client->skipTurn(merged);
    service->finish();
    sync();
    EXPECT_FALSE(service->isResponding());
    EXPECT_EQ(server.frames(QStringLiteral("response.create")).size(), 0);
}

TEST_F(RealtimeClientTest, ARefusedTranscriptionModelIsReplacedByOneTheServiceNames) {
    StrictRealtimeService service(server);
    service.refuseTranscriptionModel(
        QStringLiteral("gpt-4o-mini-transcribe"),
        {QStringLiteral("whisper-1"), QStringLiteral("gpt-transcribe")});
    client->start(config());
    ASSERT_TRUE(waitForStatus(Status::connected()));
    EXPECT_EQ(service.transcriptionModel(), QStringLiteral("gpt-transcribe"));
    EXPECT_TRUE(events.contains("transcription_model:gpt-4o-mini-transcribe->gpt-transcribe"));
    EXPECT_EQ(statuses.count(Status::connected()), 1);
    EXPECT_FALSE(std::any_of(statuses.begin(), statuses.end(),
                             [](const Status& status) { return status.isFailed(); }));
}

// The legacy shape is retired: the service closes on it, and what it refused first is said.
TEST_F(RealtimeClientTest, TheRetiredLegacyShapeEndsWithTheFirstRefusal) {
    client->start(config());
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 1));
    server.sendError(QStringLiteral("Unknown parameter: 'session.reasoning'."));
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 2));
    server.close(4000, QStringLiteral("beta_api_shape_disabled"));
    ASSERT_TRUE(
        waitForStatus(Status::failed(QStringLiteral("Unknown parameter: 'session.reasoning'."))));
    EXPECT_FALSE(server.waitForUpgradeRequests(2, 300)) << "a retry would only be refused again";
}

// --- audio -----------------------------------------------------------------------------------

TEST_F(RealtimeClientTest, AudioBeforeConfigurationIsDroppedAndChunksHoldTheWholeBacklog) {
    client->append(QByteArray(4800, 'a')); // not running yet
    client->start(config());
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 1));
    client->append(QByteArray(4800, 'b')); // socket open, not configured
    server.sendSessionUpdated();
    ASSERT_TRUE(waitForStatus(Status::connected()));

    client->append(QByteArray(3000, 'c'));
    client->append(QByteArray(1799, 'd')); // 4799: still below the threshold
    client->append(QByteArray(2000, 'e')); // 6799: everything goes in one message
    client->append(QByteArray(4800, 'f')); // exactly the threshold
    client->append(QByteArray(100, 'g'));  // waits
    client->updateHistory({});             // which takes what waits on its way
    sync();
    client->append(QByteArray(4700, 'h')); // the threshold again, counted with it
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("input_audio_buffer.append"), 3));
    sync();
    const auto appends = server.frames(QStringLiteral("input_audio_buffer.append"));
    ASSERT_EQ(appends.size(), 3);
    EXPECT_EQ(audioOf(appends[0]),
              QByteArray(3000, 'c') + QByteArray(1799, 'd') + QByteArray(2000, 'e'));
    EXPECT_EQ(audioOf(appends[1]), QByteArray(4800, 'f'));
    EXPECT_EQ(audioOf(appends[2]), QByteArray(100, 'g') + QByteArray(4700, 'h'));
}

TEST_F(RealtimeClientTest, AudioFromManyThreadsArrivesComplete) {
    connectConfigured();
    constexpr int threads = 4, blocks = 50, blockBytes = 960; // 20 ms blocks
    std::vector<std::thread> producers;
    for (int t = 0; t < threads; ++t) {
        producers.emplace_back([this, t] {
            for (int b = 0; b < blocks; ++b)
                client->append(QByteArray(blockBytes, char('A' + t)));
        });
    }
    for (std::thread& producer : producers)
        producer.join();
    const int total = threads * blocks * blockBytes; // 192 000 bytes = 40 chunks of 4800
    ASSERT_TRUE(waitFor([&] {
        qsizetype received = 0;
        for (const QJsonObject& frame : server.frames(QStringLiteral("input_audio_buffer.append")))
            received += audioOf(frame).size();
        return received == total;
    }));
    for (const QJsonObject& frame : server.frames(QStringLiteral("input_audio_buffer.append"))) {
        const QByteArray audio = audioOf(frame);
        EXPECT_GE(audio.size(), 4800);
        EXPECT_EQ(audio.size() % blockBytes, 0);
    }
}

TEST_F(RealtimeClientTest, AppendingReusesItsBlocksOnceTheirMessagesHaveGone) {
    connectConfigured();
    const QByteArray block(960, 'a'); // 20 ms; five make a message
    const auto sent = [&] { return server.frames(QStringLiteral("input_audio_buffer.append")); };
    // The allocations of `messages` messages' appends, each message waited for.
    const auto appendMessages = [&](int messages) {
        int counted = 0;
        for (int m = 0; m < messages; ++m) {
            const qsizetype before = sent().size();
            for (int b = 0; b < 5; ++b) {
                newCounted = 0;
                countingNew = true;
                client->append(block);
                countingNew = false;
                counted += newCounted;
            }
            if (!waitFor([&] { return sent().size() > before; }))
                return -1;
        }
        return counted;
    };
    ASSERT_GE(appendMessages(2), 0);
    const int counted = appendMessages(10);
    ASSERT_GE(counted, 0);
    // What is left is the queued call that hands each message's worth over.
    EXPECT_LT(counted, 10 * 5) << counted;
    EXPECT_EQ(sent().size(), 12);
}

// --- history seeding -----------------------------------------------------------------------

TEST_F(RealtimeClientTest, SeedsTheNewestTwelvePairs) {
    client->updateHistory(pairs(13));
    connectConfigured();
    ASSERT_TRUE(waitForLog(QStringLiteral("Seeded")));
    EXPECT_TRUE(
        logs.contains(QStringLiteral("Seeded 12 earlier Q&A pair(s) into the new session")));
    // The log can come before the server has read the last of the items.
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("conversation.item.create"), 24));
    const QStringList items = itemsOf(server.frames(QStringLiteral("conversation.item.create")));
    ASSERT_EQ(items.size(), 24);
    EXPECT_EQ(items.first(), QStringLiteral("user/input_text/Question 2?"));
    EXPECT_EQ(items.last(), QStringLiteral("assistant/output_text/Answer 13."));
    // Seeding asks for no response.
    EXPECT_EQ(server.frames(QStringLiteral("response.create")).size(), 0);
}

TEST_F(RealtimeClientTest, PairWithEmptyAnswerSeedsOnlyItsQuestion) {
    client->updateHistory({{QStringLiteral("Q1"), QStringLiteral("A1")},
                           {QStringLiteral("Q2"), QString()},
                           {QString(), QStringLiteral("A3")}});
    connectConfigured();
    ASSERT_TRUE(waitForLog(QStringLiteral("Seeded")));
    EXPECT_TRUE(logs.contains(QStringLiteral("Seeded 3 earlier Q&A pair(s) into the new session")));
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("conversation.item.create"), 4));
    EXPECT_EQ(itemsOf(server.frames(QStringLiteral("conversation.item.create"))),
              (QStringList{"user/input_text/Q1", "assistant/output_text/A1", "user/input_text/Q2",
                           "assistant/output_text/A3"}));
}

TEST_F(RealtimeClientTest, OversizedNewestPairSeedsNothing) {
    client->updateHistory(
        {{QStringLiteral("Q1"), QStringLiteral("A1")}, {QString(4000, u'q'), QString(4000, u'a')}});
    connectConfigured();
    sync();
    EXPECT_EQ(server.frames(QStringLiteral("conversation.item.create")).size(), 0);
    EXPECT_EQ(logCount(QStringLiteral("Seeded")), 0);
}

// --- failures and reconnection ---------------------------------------------------------------

TEST_F(RealtimeClientTest, BackoffRunsTheWholeScheduleAndResetsAfterConfiguration) {
    makeClient([](RealtimeTiming& t) { t.backoffUnit = 5ms; });
    QList<qint64> requestTimes;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&server, &FakeRealtimeServer::upgradeRequested,
                     [&] { requestTimes.append(clock.nsecsElapsed()); });
    server.refuseUpgrades(500);
    client->start(config());
    ASSERT_TRUE(server.waitForUpgradeRequests(8));
    ASSERT_TRUE(waitForLog(QStringLiteral("Reconnecting in"), 8));
    const int steps[] = {1, 2, 4, 8, 16, 20, 20};
    for (int i = 0; i < 7; ++i) {
        EXPECT_TRUE(logs[logs.indexOf(QRegularExpression(QStringLiteral("^Reconnecting.*")), 0) + i]
                        .startsWith(QStringLiteral("Reconnecting in %1s — ").arg(steps[i])))
            << logs.join(u'\n').toStdString();
        // The next request comes no sooner than the wait.
        EXPECT_GE(requestTimes[i + 1] - requestTimes[i], steps[i] * 5'000'000LL - 1'000'000LL)
            << "wait " << i;
    }
    EXPECT_FALSE(std::any_of(statuses.begin(), statuses.end(),
                             [](const Status& s) { return s.isFailed(); }));
    EXPECT_EQ(statuses.first(), Status::connecting());
    EXPECT_EQ(statuses.at(1),
              (Status{Status::Kind::reconnecting,
                      QStringLiteral("The Realtime service is unavailable (HTTP 500 Internal "
                                     "Server Error) — retrying in 1 s.")}));

    server.refuseUpgrades(0);
    server.setAutoConfigure(true);
    ASSERT_TRUE(waitForStatus(Status::connected()));
    logs.clear();
    server.dropConnection();
    ASSERT_TRUE(waitForLog(QStringLiteral("Reconnecting in")));
    EXPECT_TRUE(logs.first().startsWith(QStringLiteral("Reconnecting in 1s — ")))
        << logs.first().toStdString();
}

TEST_F(RealtimeClientTest, ReceiveFailureAndCloseScheduleOneReconnect) {
    server.setAutoConfigure(true);
    connectConfigured();
    server.dropConnection(); // the client sees an error, then the close
    ASSERT_TRUE(waitForStatus(Status::connected(), 2));
    EXPECT_EQ(logCount(QStringLiteral("Reconnecting in")), 1);
    EXPECT_EQ(server.connectionCount(), 2);
    EXPECT_EQ(statuses,
              (QList<Status>{Status::connecting(), Status::connected(), Status::reconnecting(),
                             Status::reconnecting(), Status::connected()}));
}

TEST_F(RealtimeClientTest, ServerCloseReportsItsReason) {
    server.setAutoConfigure(true);
    connectConfigured();
    server.close(4000, QStringLiteral("session expired"));
    ASSERT_TRUE(waitForStatus(Status::connected(), 2));
    server.close(4001);
    ASSERT_TRUE(waitForStatus(Status::connected(), 3));
    const QStringList reconnects = logs.filter(QStringLiteral("Reconnecting in"));
    ASSERT_EQ(reconnects.size(), 2);
    EXPECT_EQ(reconnects[0],
              QStringLiteral("Reconnecting in 1s — socket closed (session expired)"));
    EXPECT_EQ(reconnects[1], QStringLiteral("Reconnecting in 1s — socket closed (code 4001)"));
}

TEST_F(RealtimeClientTest, StopDuringBackoffPreventsTheReconnect) {
    makeClient([](RealtimeTiming& t) { t.backoffUnit = 400ms; });
    connectConfigured();
    server.dropConnection();
    ASSERT_TRUE(waitForStatus(Status::reconnecting()));
    client->stop();
    ASSERT_TRUE(waitForStatus(Status::idle()));
    QTest::qWait(900); // over twice the pending wait: the reconnect would have come by now
    EXPECT_EQ(server.upgradeRequestCount(), 1);
    EXPECT_EQ(statuses.last(), Status::idle());
}

TEST_F(RealtimeClientTest, RestartDuringBackoffOpensOneSocket) {
    makeClient([](RealtimeTiming& t) { t.backoffUnit = 400ms; });
    server.setAutoConfigure(true);
    connectConfigured();
    server.dropConnection();
    ASSERT_TRUE(waitForStatus(Status::reconnecting()));
    client->stop();
    client->start(config());
    ASSERT_TRUE(waitForStatus(Status::connected(), 2));
    QTest::qWait(900); // the cancelled reconnect would have opened a second socket by now
    EXPECT_EQ(server.upgradeRequestCount(), 2);
    EXPECT_TRUE(server.isConnected());
    EXPECT_EQ(statuses.last(), Status::connected());
}

TEST_F(RealtimeClientTest, StopClosesWithGoingAwayAndDropsLaterAudio) {
    connectConfigured();
    client->stop();
    ASSERT_TRUE(server.waitForDisconnections(1));
    EXPECT_EQ(server.lastCloseCode(), 1001);
    ASSERT_TRUE(waitForStatus(Status::idle()));
    client->append(QByteArray(9600, 'x'));
    client->start(config()); // a marker that the append before it was handled
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 2));
    EXPECT_EQ(server.frames(QStringLiteral("input_audio_buffer.append")).size(), 0);

    // Nor is what a session stopped with, short of a message, the next session's.
    server.sendSessionUpdated();
    ASSERT_TRUE(waitForStatus(Status::connected(), 2));
    client->append(QByteArray(100, 'y'));
    client->stop();
    client->start(config());
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 3));
    server.sendSessionUpdated();
    ASSERT_TRUE(waitForStatus(Status::connected(), 3));
    client->append(QByteArray(4800, 'z'));
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("input_audio_buffer.append"), 1));
    EXPECT_EQ(audioOf(server.frames(QStringLiteral("input_audio_buffer.append")).first()),
              QByteArray(4800, 'z'));
}

// The first event of a burst stops and restarts the client: the rest of the burst, already
// queued for the main thread, belongs to the stopped run.
TEST_F(RealtimeClientTest, NothingHeardBeforeAStopIsDeliveredAfterIt) {
    server.setAutoConfigure(true);
    connectConfigured();
    QStringList heard;
    client->onTranscript = [&](const QString& id, const QString& text) {
        heard.append(id);
        if (id == u"i1") {
            client->stop();
            client->start(config());
        }
        if (id.startsWith(u"sync"))
            events.append(QStringLiteral("transcript:%1:%2").arg(id, text));
    };
    client->onDelta = [&](const QString& id, const QString&) { heard.append(id); };
    client->onUsage = [&](const QJsonObject&) { heard.append(QStringLiteral("usage")); };
    client->onResponseDone = [&](const QString& id) { heard.append(QStringLiteral("done:") + id); };
    server.sendTranscript(QStringLiteral("i1"), QStringLiteral("Why this role?"));
    server.sendResponseCreated(QStringLiteral("r1"));
    for (int i = 0; i < 6; ++i)
        server.sendDelta(QStringLiteral("r1"), QStringLiteral("word "));
    server.sendResponseDone(QStringLiteral("r1"), {{QStringLiteral("total_tokens"), 9}});
    server.sendTranscript(QStringLiteral("i2"), QStringLiteral("And then?"));
    ASSERT_TRUE(server.waitForConnections(2));
    ASSERT_TRUE(waitForStatus(Status::connected(), 2));
    sync(); // the new run's events do arrive, after everything of the old one
    heard.removeAll(QStringLiteral("sync-1"));
    EXPECT_EQ(heard, QStringList{QStringLiteral("i1")});
}

// Turn detection answers each committed turn in order; an answer this client asked for answers
// no audio; a new socket starts with nothing waiting.
TEST_F(RealtimeClientTest, StartWhileRunningReplacesTheSocket) {
    connectConfigured();
    client->start(config());
    ASSERT_TRUE(server.waitForConnections(2));
    ASSERT_TRUE(server.waitForDisconnections(1));
    EXPECT_EQ(server.lastCloseCode(), 1001);
    EXPECT_EQ(logCount(QStringLiteral("Reconnecting")), 0);
}

TEST_F(RealtimeClientTest, UnansweredPingCountsAsAFailure) {
    makeClient([](RealtimeTiming& t) {
        t.pingInterval = 20ms;
        t.pongTimeout = 1s;
    });
    server.setAutoConfigure(true);
    connectConfigured();
    QTest::qWait(100); // several pings, each answered
    EXPECT_EQ(logCount(QStringLiteral("Reconnecting")), 0);
    server.stall();
    ASSERT_TRUE(waitForLog(QStringLiteral("Reconnecting in 1s — ping failed: ")));
    ASSERT_TRUE(waitForStatus(Status::connected(), 2));
}

TEST_F(RealtimeClientTest, StalledHandshakeTimesOut) {
    makeClient([](RealtimeTiming& t) { t.handshakeTimeout = 300ms; });
    server.stallUpgrades(true);
    client->start(config());
    ASSERT_TRUE(waitForLog(QStringLiteral("Reconnecting in 1s — the handshake timed out")));
    server.stallUpgrades(false);
    server.setAutoConfigure(true);
    ASSERT_TRUE(waitForStatus(Status::connected()));
}

TEST_F(RealtimeClientTest, UnansweredSessionSetupReconnects) {
    makeClient([](RealtimeTiming& t) { t.handshakeTimeout = 300ms; });
    client->start(config()); // accepted, session.update never answered
    const Status said{Status::Kind::reconnecting,
                      QStringLiteral("The Realtime service did not answer the session setup — "
                                     "reconnecting in 1 s.")};
    ASSERT_TRUE(waitForStatus(said));
    EXPECT_TRUE(logs.contains(
        QStringLiteral("Reconnecting in 1s — the session setup was not answered within 300 ms")));
    server.setAutoConfigure(true);
    ASSERT_TRUE(waitForStatus(Status::connected()));
    EXPECT_EQ(server.connectionCount(), 2);
}

// A later socket failing its setup is a fault of the moment: only the first one ends the run.
struct LaterSocketFailureCase {
    const char* name;
    std::function<void(FakeRealtimeServer&)> fail;
};

class RealtimeLaterSocketTest : public RealtimeClientTest,
                                public ::testing::WithParamInterface<LaterSocketFailureCase> {};

TEST_P(RealtimeLaterSocketTest, BacksOffInsteadOfEndingTheRun) {
    connectConfigured();
    GetParam().fail(server);
    server.dropConnection();
    ASSERT_TRUE(waitForLog(QStringLiteral("Reconnecting in"), 3));
    server.refuseUpgrades(0);
    server.setAutoConfigure(true);
    ASSERT_TRUE(waitForStatus(Status::connected(), 2));
    EXPECT_FALSE(std::any_of(statuses.begin(), statuses.end(),
                             [](const Status& s) { return s.isFailed(); }));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, RealtimeLaterSocketTest,
    ::testing::Values(LaterSocketFailureCase{"KeyRefused", [](auto& s) { s.refuseUpgrades(401); }},
                      LaterSocketFailureCase{"NotFound", [](auto& s) { s.refuseUpgrades(404); }},
                      LaterSocketFailureCase{
                          "SetupError",
                          [](FakeRealtimeServer& s) {
                              QObject::connect(
                                  &s, &FakeRealtimeServer::frameReceived, &s,
                                  [&s](const QJsonObject& frame) {
                                      if (frame.value(QStringLiteral("type")).toString() ==
                                              u"session.update" &&
                                          s.connectionCount() <= 3)
                                          s.sendError(QStringLiteral("server_error"));
                                  });
                          }}),
    [](const auto& info) { return std::string(info.param.name); });

struct CycleCase {
    int reconnectMinutes;
    int effectiveMinutes;
};

class CycleTest : public RealtimeClientTest, public ::testing::WithParamInterface<CycleCase> {};

TEST_P(CycleTest, CyclesOntoAFreshReseededSession) {
    const CycleCase c = GetParam();
    makeClient([&](RealtimeTiming& t) {
        t.cycleMinute = std::chrono::milliseconds(300 / c.effectiveMinutes); // 300 ms period
    });
    client->updateHistory(pairs(1));
    server.setAutoConfigure(true);
    RealtimeClient::Config cfg = config();
    cfg.reconnectMinutes = c.reconnectMinutes;
    QElapsedTimer clock;
    clock.start();
    connectConfigured(cfg);
    const qint64 connectedAt = clock.elapsed();
    ASSERT_TRUE(waitForStatus(Status::connected(), 2));
    EXPECT_GE(clock.elapsed() - connectedAt, 280);
    EXPECT_TRUE(
        logs.contains(QStringLiteral("Cycling session (%1 min limit)").arg(c.effectiveMinutes)));
    EXPECT_EQ(server.lastCloseCode(), 1001);
    EXPECT_EQ(statuses.mid(0, 4), (QList<Status>{Status::connecting(), Status::connected(),
                                                 Status::connecting(), Status::connected()}));
    EXPECT_EQ(logCount(QStringLiteral("Seeded 1 earlier")), 2);
    EXPECT_EQ(server.frames(QStringLiteral("conversation.item.create")).size(), 4);
    client->stop();
}

INSTANTIATE_TEST_SUITE_P(Periods, CycleTest, ::testing::Values(CycleCase{2, 5}, CycleCase{25, 25}),
                         [](const auto& info) {
                             return "reconnectMinutes" +
                                    std::to_string(info.param.reconnectMinutes);
                         });

// The parameter: whether the answer in progress ends before the grace period does.
class RealtimeStreamingCycleTest : public RealtimeClientTest,
                                   public ::testing::WithParamInterface<bool> {};

TEST_P(RealtimeStreamingCycleTest, CycleWaitsForTheAnswerInProgress) {
    makeClient([&](RealtimeTiming& t) {
        t.cycleMinute = 60ms; // 300 ms period
        t.cycleGrace = GetParam() ? 1h : 200ms;
    });
    server.setAutoConfigure(true);
    connectConfigured();
    server.sendResponseCreated(QStringLiteral("r1"));
    sync();
    ASSERT_TRUE(waitForLog(QStringLiteral("Cycling session once the answer in progress ends")));
    EXPECT_EQ(server.connectionCount(), 1);
    if (GetParam()) {
        server.sendDelta(QStringLiteral("r1"), QStringLiteral("Done."));
        server.sendResponseDone(QStringLiteral("r1"));
    }
    ASSERT_TRUE(waitForStatus(Status::connected(), 2));
    EXPECT_EQ(events.contains(QStringLiteral("done:r1")), GetParam());
    // The answer of the old session neither holds up the new one nor can be cancelled there.
    client->cancelResponse(QStringLiteral("r1"));
    client->regenerate(QStringLiteral("CARD"), QStringLiteral("Q?"));
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("response.create"), 1));
    EXPECT_EQ(server.frames(QStringLiteral("response.cancel")).size(), 0);
}

INSTANTIATE_TEST_SUITE_P(Answers, RealtimeStreamingCycleTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Ends" : "NeverEnds"; });

struct HeldAudioCase {
    const char* name;
    int blocks; // of 4800 bytes (0.1 s), captured while the new socket is set up
    int kept;   // the newest ones
};

class RealtimeHeldAudioTest : public RealtimeClientTest,
                              public ::testing::WithParamInterface<HeldAudioCase> {};

TEST_P(RealtimeHeldAudioTest, AudioDuringTheReconnectIsSentOnceConfigured) {
    connectConfigured();
    server.dropConnection();
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 2));
    QByteArray captured;
    for (int b = 0; b < GetParam().blocks; ++b) {
        const QByteArray block(4800, char(b));
        captured += block;
        client->append(block);
    }
    server.sendSessionUpdated();
    const qsizetype expected = qsizetype(GetParam().kept) * 4800;
    QByteArray received;
    ASSERT_TRUE(waitFor([&] {
        received.clear();
        for (const QJsonObject& frame : server.frames(QStringLiteral("input_audio_buffer.append")))
            received += audioOf(frame);
        return received.size() >= expected;
    }));
    EXPECT_EQ(received, captured.right(expected));
}

INSTANTIATE_TEST_SUITE_P(Backlogs, RealtimeHeldAudioTest,
                         ::testing::Values(HeldAudioCase{"Question", 3, 3},
                                           HeldAudioCase{"OverFiveSeconds", 60, 50}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RealtimeClientTest, KilledServerEndsInReconnectingThenConnectedAndReseeded) {
    makeClient([](RealtimeTiming& t) { t.backoffUnit = 2ms; });
    client->updateHistory(pairs(2));
    server.setAutoConfigure(true);
    connectConfigured();
    client->append(QByteArray(4800, 's'));
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("input_audio_buffer.append"), 1));

    server.clearFrames();
    server.kill();
    ASSERT_TRUE(waitForStatus(Status::reconnecting()));
    ASSERT_TRUE(waitForLog(QStringLiteral("Reconnecting in"), 4)); // refused while down
    EXPECT_EQ(logs.filter(QStringLiteral("Reconnecting in 2s")).value(0),
              QStringLiteral("Reconnecting in 2s — Connection refused"));
    // A follow-up merged meanwhile is answered in the next session.
    client->regenerate(QStringLiteral("CARD"), QStringLiteral("Question 2? And 3?"));
    ASSERT_TRUE(server.listen());
    ASSERT_TRUE(waitForStatus(Status::connected(), 2));
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("response.create"), 1));
    EXPECT_EQ(itemsOf(server.frames(QStringLiteral("conversation.item.create"))),
              (QStringList{"user/input_text/Question 1?", "assistant/output_text/Answer 1.",
                           "user/input_text/Question 2?", "assistant/output_text/Answer 2.",
                           "user/input_text/Question 2? And 3?"}));
    EXPECT_FALSE(std::any_of(statuses.begin(), statuses.end(),
                             [](const Status& s) { return s.isFailed(); }));
    client->append(QByteArray(4800, 't'));
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("input_audio_buffer.append"), 1));
    EXPECT_EQ(audioOf(server.frames(QStringLiteral("input_audio_buffer.append")).first()),
              QByteArray(4800, 't'));
}

// --- refusals that are the user's to fix -----------------------------------------------------

TEST_F(RealtimeClientTest, InvalidOverrideUrlFailsWithoutCrashing) {
    home.setEnv("OV_REALTIME_URL", QByteArray("http:// not a socket"));
    client->start(config());
    ASSERT_TRUE(waitForStatus(
        Status::failed(QStringLiteral("Invalid OV_REALTIME_URL: http:// not a socket"))));
    EXPECT_EQ(server.upgradeRequestCount(), 0);
}

TEST_F(RealtimeClientTest, ErrorEchoingTheKeyIsMaskedInLogAndStatus) {
    RealtimeClient::Config cfg = config();
    cfg.apiKey = QStringLiteral("sk-proj-AbCdEfGhIjKlMnOp1234");
    client->start(cfg);
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("session.update"), 1));
    server.sendError(QStringLiteral("Incorrect API key provided: sk-proj-AbCdEfGhIjKlMnOp1234."));
    const QString shown = QStringLiteral("Incorrect API key provided: sk-…1234.");
    ASSERT_TRUE(waitForStatus(Status::failed(shown)));
    EXPECT_TRUE(logs.contains(QStringLiteral("API error: ") + shown));
    EXPECT_FALSE(events.join(u'\n').contains(QStringLiteral("AbCdEfGh")));
}

struct RefusedConfigCase {
    const char* name;
    std::function<void(RealtimeClient::Config&)> change;
    const char* message;
};

class RefusedConfigTest : public RealtimeClientTest,
                          public ::testing::WithParamInterface<RefusedConfigCase> {};

// Such a start used to end in a reconnect loop that never said why.
TEST_P(RefusedConfigTest, FailsOnceWithoutARequest) {
    RealtimeClient::Config cfg = config();
    GetParam().change(cfg);
    client->start(cfg);
    const Status expected = Status::failed(QString::fromUtf8(GetParam().message));
    ASSERT_TRUE(waitForStatus(expected));
    client->start(config()); // a marker: the refused start made no request
    ASSERT_TRUE(server.waitForUpgradeRequests(1));
    EXPECT_EQ(server.upgradeRequestCount(), 1);
    EXPECT_EQ(statuses.mid(0, 2), (QList<Status>{Status::connecting(), expected}));
    EXPECT_EQ(logCount(QStringLiteral("Reconnecting")), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Configs, RefusedConfigTest,
    ::testing::Values(
        RefusedConfigCase{"LongModel", [](auto& c) { c.model = QString(201, u'm'); },
                          "The model id is longer than 200 characters — choose a model in "
                          "Settings."},
        RefusedConfigCase{"ModelWithBlank", [](auto& c) { c.model = QStringLiteral("gpt x"); },
                          "The model id contains blanks or control characters — choose a model "
                          "in Settings."},
        RefusedConfigCase{"LongKey",
                          [](auto& c) { c.apiKey = QStringLiteral("sk-") + QString(398, u'k'); },
                          "The API key is longer than any OpenAI key (over 400 characters) — "
                          "paste it again in Settings."},
        RefusedConfigCase{"NonAsciiKey", [](auto& c) { c.apiKey = QStringLiteral("sk-tëst"); },
                          "The API key contains invalid characters — paste it again in "
                          "Settings."},
        RefusedConfigCase{"KeyWithControlCharacter",
                          [](auto& c) { c.apiKey = QStringLiteral("sk-abc\ndef"); },
                          "The API key contains invalid characters — paste it again in "
                          "Settings."},
        RefusedConfigCase{"NoKey", [](auto& c) { c.apiKey.clear(); },
                          "No API key set — open Settings and paste your OpenAI key."}),
    [](const auto& info) { return std::string(info.param.name); });

struct HttpRefusalCase {
    int httpStatus;
    Status said;
};

class RealtimeHttpRefusalTest : public RealtimeClientTest,
                                public ::testing::WithParamInterface<HttpRefusalCase> {};

// A busy or broken service is waited out; a refused key, a wrong address or model is said once.
TEST_P(RealtimeHttpRefusalTest, SaysWhyAndRetriesOnlyWhatWaitingCures) {
    server.refuseUpgrades(GetParam().httpStatus);
    client->start(config());
    ASSERT_TRUE(waitForStatus(GetParam().said));
    if (GetParam().said.isFailed()) {
        QTest::qWait(50); // fifty back-off units: a retry would have come
        EXPECT_EQ(server.upgradeRequestCount(), 1);
        EXPECT_EQ(statuses, (QList<Status>{Status::connecting(), GetParam().said}));
        EXPECT_EQ(logCount(QStringLiteral("Reconnecting")), 0);
    } else {
        ASSERT_TRUE(server.waitForUpgradeRequests(2));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, RealtimeHttpRefusalTest,
    ::testing::Values(
        HttpRefusalCase{401, Status::failed(QStringLiteral(
                                 "The OpenAI API rejected the key (HTTP 401) — check it in "
                                 "Settings."))},
        HttpRefusalCase{403, Status::failed(QStringLiteral(
                                 "The OpenAI API rejected the key (HTTP 403) — check it in "
                                 "Settings."))},
        HttpRefusalCase{404, Status::failed(QStringLiteral(
                                 "The Realtime service refused the connection (HTTP 404 Not "
                                 "Found) — check OV_REALTIME_URL and the model name."))},
        HttpRefusalCase{410, Status::failed(QStringLiteral(
                                 "The Realtime service refused the connection (HTTP 410 Gone) — "
                                 "check OV_REALTIME_URL and the model name."))},
        HttpRefusalCase{429,
                        {Status::Kind::reconnecting,
                         QStringLiteral("The Realtime service is rate limited (HTTP 429 "
                                        "Too Many Requests) — retrying in 1 s.")}},
        HttpRefusalCase{503,
                        {Status::Kind::reconnecting,
                         QStringLiteral("The Realtime service is unavailable (HTTP 503 "
                                        "Service Unavailable) — retrying in 1 s.")}}),
    [](const auto& info) { return std::to_string(info.param.httpStatus); });

// --- lifetime --------------------------------------------------------------------------------

TEST_F(RealtimeClientTest, NoCallbackAfterDestruction) {
    int delivered = 0;
    client->onStatus = [&](const Status&) { ++delivered; };
    client->onLog = [&](const QString&) { ++delivered; };
    client->start(config());
    client->append(QByteArray(4800, 'x'));
    client->stop();
    client.reset();
    QTest::qWait(50);
    EXPECT_EQ(delivered, 0);
}

TEST_F(RealtimeClientTest, DestroyingTheClientMidSessionClosesItsSocket) {
    server.setAutoConfigure(true);
    connectConfigured();
    client.reset();
    ASSERT_TRUE(server.waitForDisconnections(1));
}

TEST_F(RealtimeClientTest, ClientMayBeDestroyedFromItsOwnCallback) {
    server.setAutoConfigure(true);
    bool destroyed = false;
    client->onStatus = [&](const Status& status) {
        if (status == Status::connected()) {
            client.reset();
            destroyed = true;
        }
    };
    client->start(config());
    ASSERT_TRUE(waitFor([&] { return destroyed; }));
    ASSERT_TRUE(server.waitForDisconnections(1));
}

// --- wss -------------------------------------------------------------------------------------

class RealtimeClientTlsTest : public RealtimeClientTest {
protected:
    RealtimeClientTlsTest() : RealtimeClientTest(FakeRealtimeServer::Transport::tls) {}
};

TEST_F(RealtimeClientTlsTest, ConnectsOverWssWhenTheCertificateIsTrusted) {
    ASSERT_EQ(server.url().scheme(), QStringLiteral("wss"));
    makeClient(fastTiming(), FakeRealtimeServer::clientSslConfiguration());
    client->updateHistory(pairs(1));
    server.setAutoConfigure(true);
    connectConfigured();
    ASSERT_TRUE(server.waitForFrames(QStringLiteral("conversation.item.create"), 2));
    EXPECT_EQ(server.requestHeaders().value("authorization"), QByteArray("Bearer sk-test"));
}

TEST_F(RealtimeClientTlsTest, RefusesAnUntrustedCertificate) {
    // The client made for every test trusts the system's store only.
    client->start(config());
    ASSERT_TRUE(waitForLog(QStringLiteral("Reconnecting in"), 2));
    EXPECT_EQ(server.connectionCount(), 0);
    EXPECT_EQ(server.upgradeRequestCount(), 0);
    EXPECT_FALSE(statuses.contains(Status::connected()));
}

} // namespace
