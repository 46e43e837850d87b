#pragma once

#include "realtime/RealtimeClientInterface.h"
#include "realtime/RealtimeTiming.h"

#include <QSslConfiguration>
#include <QThread>
#include <functional>
#include <optional>

class RealtimeConnection;
class RealtimeCallbackRelay;

// The WebSocket client for the OpenAI Realtime API. Its socket and state live on a thread of
// its own; every operation is queued there and returns at once, so append() may be called from
// a capture thread. Callbacks arrive on the thread that created the client, in order, and never
// after it is destroyed.
class RealtimeClient : public RealtimeClientInterface {
public:
    struct Options {
        RealtimeTiming timing;
        // Replaces the TLS configuration of every socket (tests trust their own certificate).
        std::optional<QSslConfiguration> sslConfiguration;
    };

    RealtimeClient();
    explicit RealtimeClient(Options options);
    ~RealtimeClient() override;
    RealtimeClient(const RealtimeClient&) = delete;
    RealtimeClient& operator=(const RealtimeClient&) = delete;

    void start(const Config& config) override;
    void stop() override;
    void append(const QByteArray& pcm16) override;
    void updateHistory(const QList<HistoryPair>& pairs) override;
    void updateInstructions(const QString& instructions) override;
    void regenerate(const QString& question) override;

private:
    void enqueue(std::function<void()> work);

    QThread m_thread;
    RealtimeConnection* m_connection = nullptr;
    RealtimeCallbackRelay* m_relay = nullptr;
};
