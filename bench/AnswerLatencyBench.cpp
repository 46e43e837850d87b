// The client's own share of an answer's latency: from the service's committed turn, and from
// an answer's first text, to the card's text changing on the main thread. The service is the
// strict fake on 127.0.0.1, so what is measured is the socket, the client's thread, the hand-off
// to the main thread and the card flow, nothing of the model's own time.
#include "base/Clock.h"
#include "realtime/RealtimeClient.h"
#include "session/QAFlow.h"
#include "support/FakeRealtimeServer.h"
#include "support/StrictRealtimeService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int kTurns = 200;

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1))];
}

void AnswerReachesItsCard(benchmark::State& state) {
    FakeRealtimeServer server;
    StrictRealtimeService service(server);
    if (!server.listen()) {
        state.SkipWithError("no port on 127.0.0.1");
        return;
    }
    qputenv("OV_REALTIME_URL", server.url().toString().toUtf8());

    RealtimeClient client;
    int changes = 0;
    QAFlow::Hooks hooks;
    hooks.pairsChanged = [&] { ++changes; };
    QAFlow flow(
        systemClock(), [] { return 0.0; }, hooks);
    client.onResponseCreated = [&](const QString& id, const QString& item, const QString& card) {
        flow.startResponse(id, item, card);
    };
    client.onDelta = [&](const QString& id, const QString& delta) { flow.ingestDelta(id, delta); };
    client.onResponseDone = [&](const QString& id) { flow.completeResponse(id); };
    bool connected = false;
    client.onStatus = [&](const RealtimeClient::Status& status) {
        connected = status.kind == RealtimeClient::Status::Kind::connected;
    };
    RealtimeClient::Config config;
    config.apiKey = QStringLiteral("sk-bench");
    config.model = QStringLiteral("gpt-realtime-2.1");
    config.transcribeModel = QStringLiteral("gpt-transcribe");
    client.start(config);
    QElapsedTimer wait;
    wait.start();
    while (!connected && wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!connected) {
        state.SkipWithError("the client did not connect");
        return;
    }

    std::vector<double> toCard; // committed turn → its card exists
    std::vector<double> toText; // first text → the card shows it
    // Blocking in the event loop as the app does, so waking up is part of the figure.
    const auto until = [&](const auto& done) {
        while (!done())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    for (auto _ : state) {
        for (int turn = 0; turn < kTurns; ++turn) {
            const qsizetype cards = flow.pairs().size();
            QElapsedTimer clock;
            clock.start();
            service.commitTurn();
            until([&] { return flow.pairs().size() > cards; });
            toCard.push_back(double(clock.nsecsElapsed()) / 1e6);
            clock.restart();
            service.stream(QStringLiteral("An answer."));
            until([&] { return !flow.pairs().last().answer.isEmpty(); });
            toText.push_back(double(clock.nsecsElapsed()) / 1e6);
            service.finish();
            until([&] { return flow.pairs().last().isComplete; });
        }
    }
    state.counters["turn_to_card_p50_ms"] = percentile(toCard, 0.5);
    state.counters["turn_to_card_p99_ms"] = percentile(toCard, 0.99);
    state.counters["text_to_card_p50_ms"] = percentile(toText, 0.5);
    state.counters["text_to_card_p99_ms"] = percentile(toText, 0.99);
    state.counters["card_changes"] = double(changes);
    client.stop();
}
BENCHMARK(AnswerReachesItsCard)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
