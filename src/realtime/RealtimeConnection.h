#pragma once

#include "base/Clock.h"
#include "realtime/RealtimeClientInterface.h"
#include "realtime/RealtimeProtocol.h"
#include "realtime/RealtimeTiming.h"

#include <QAbstractSocket>
#include <QObject>
#include <QSslConfiguration>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QWebSocket;

// Everything the client does on its own thread: the socket, the protocol state, the timers.
// Lives on that thread and is only ever called there; what the owner must hear about is handed
// to `post`, which carries it to the owner's thread.
class RealtimeConnection : public QObject {
public:
    using Config = RealtimeClientInterface::Config;
    using Status = RealtimeClientInterface::Status;
    using HistoryPair = RealtimeClientInterface::HistoryPair;
    using ResponseEnd = RealtimeClientInterface::ResponseEnd;
    using Notification = std::function<void(RealtimeClientInterface&)>;

    RealtimeConnection(const RealtimeTiming& timing, std::optional<QSslConfiguration> ssl,
                       std::function<void(Notification)> post);
    ~RealtimeConnection() override;

    void start(const Config& config);
    void stop();
    void append(const QByteArray& pcm16);
    void updateHistory(const QList<HistoryPair>& pairs);
    void updateInstructions(const QString& instructions);
    void regenerate(const QString& question);

    static constexpr qsizetype chunkBytes = 4800;
    // Meeting audio kept while a new socket of a running session is set up: about 5 s of 24 kHz
    // PCM16, so a question asked at that moment keeps its start.
    static constexpr qsizetype handshakeAudioBytes = 24000 * 2 * 5;
    // The held audio goes out in appends of at most 1 s.
    static constexpr qsizetype maxAppendBytes = 24000 * 2;
    static constexpr qsizetype maxUnansweredItems = 16;

private:
    void openSocket();
    void tearDown();
    // `statusText` says why in plain words; "%1" in it becomes the seconds until the retry.
    void reconnect(const QString& reason, const QString& statusText = QString());
    void fail(const QString& message);
    void cycle();
    void holdAudio(const QByteArray& pcm16);
    void sendHeldAudio();
    void send(const QJsonObject& message);
    void sendSessionUpdate();
    void seedHistory();
    void startSessionTimers();

    void onOpened();
    void onFrame(const QByteArray& utf8);
    void onSocketError(QAbstractSocket::SocketError error);
    void onClosed();
    void onSocketFailure(const QString& reason);
    void onHandshakeTimeout();
    void onPingDue();
    void onPongTimeout();
    void onCycleDue();
    void onReconnectDue();
    // Runs `due` once after `wait`; `timer` is null again by the time `due` runs.
    void startOnce(std::unique_ptr<Clock::Timer>& timer, std::chrono::milliseconds wait,
                   void (RealtimeConnection::*due)());
    void handleError(const QString& message, const QString& code);

    void report(const Status& status);
    void log(const QString& line);
    QString masked(const QString& text) const;

    const RealtimeTiming m_timing;
    const std::optional<QSslConfiguration> m_ssl;
    const std::function<void(Notification)> m_post;

    std::optional<Config> m_config;
    QWebSocket* m_socket = nullptr;
    QByteArray m_pending;
    QList<HistoryPair> m_history;
    QString m_assistantContentType = RealtimeProtocol::outputTextContentType;
    std::optional<QString> m_activeResponseID;
    QStringList m_committedItems; // committed input audio not yet answered, oldest first
    int m_requestedResponses = 0; // regenerate() responses not yet created
    bool m_usedLegacyShape = false;
    bool m_isConfigured = false;
    bool m_shouldRun = false;
    bool m_seededThisSocket = false;
    bool m_reconnectPending = false;
    // A session of this run has been configured: from then on no failure of a later socket
    // ends the run, and audio captured while a new socket is set up is kept.
    bool m_hadSession = false;
    bool m_cycleDeferred = false;
    int m_reconnectAttempt = 0;

    // On this connection's thread; each is null while it does not run.
    std::unique_ptr<Clock::Timer> m_pingTimer;
    std::unique_ptr<Clock::Timer> m_pongTimer;
    std::unique_ptr<Clock::Timer> m_cycleTimer;
    std::unique_ptr<Clock::Timer> m_handshakeTimer;
    std::unique_ptr<Clock::Timer> m_reconnectTimer;
};
