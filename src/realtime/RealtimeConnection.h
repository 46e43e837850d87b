#pragma once

#include "base/Clock.h"
#include "realtime/RealtimeClientInterface.h"
#include "realtime/RealtimeProtocol.h"
#include "realtime/RealtimeTiming.h"

#include <QAbstractSocket>
#include <QHash>
#include <QObject>
#include <QSet>
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
    using ServerEvent = RealtimeProtocol::ServerEvent;
    using Notification = std::function<void(RealtimeClientInterface&)>;

    RealtimeConnection(const RealtimeTiming& timing, std::optional<QSslConfiguration> ssl,
                       std::function<void(Notification)> post);
    ~RealtimeConnection() override;

    void start(const Config& config);
    void stop();
    void append(const QByteArray& pcm16);
    // Audio appended but not sent yet: short of a chunk, or held while a new socket is set up.
    qsizetype pendingBytes() const { return m_pending.size(); }
    void updateHistory(const QList<HistoryPair>& pairs);
    void updateInstructions(const QString& instructions);
    void regenerate(const QString& cardID, const QString& question, const QByteArray& image = {});
    void cancelResponse(const QString& responseID);
    void skipTurn(const QString& itemID);

    static constexpr qsizetype chunkBytes = 4800;
    // Meeting audio kept while a new socket of a running session is set up: about 5 s of 24 kHz
    // PCM16, so a question asked at that moment keeps its start.
    static constexpr qsizetype handshakeAudioBytes = 24000 * 2 * 5;
    // The held audio goes out in appends of at most 1 s.
    static constexpr qsizetype maxAppendBytes = 24000 * 2;
    static constexpr qsizetype maxUnansweredItems = 16;
    // Ids of sent messages and of ended answers kept to place a late error or delta.
    static constexpr qsizetype rememberedIds = 64;

private:
    void openSocket();
    void tearDown();
    // `statusText` says why in plain words; "%1" in it becomes the seconds until the retry.
    void reconnect(const QString& reason, const QString& statusText = QString());
    void fail(const QString& message);
    void cycle();
    void holdAudio(const QByteArray& pcm16);
    void sendHeldAudio();
    // Returns the event id the message went out with (`id`, or a new one), empty when it could
    // not go.
    QString send(const QJsonObject& message, const QString& id = QString());
    QString nextEventID();
    void sendSessionUpdate();
    void seedHistory();
    void resendSeededAnswers();

    // Answers are written one at a time: each request waits until the conversation is free.
    struct AnswerRequest {
        QString itemID;   // a committed turn that got no answer of its own
        QString cardID;   // a card whose merged question is asked again
        QString question; // sent as a user message first, once
        QByteArray image; // a JPEG sent with it
        bool questionSent = false;
    };
    // What a response of this socket answers, once the service has said.
    struct ResponseLink {
        QString itemID;
        QString cardID;
        bool announced = false;
    };
    bool conversationBusy() const;
    void askForNextAnswer();
    void onCommitted(const ServerEvent& event);
    void onResponseCreated(const ServerEvent& event);
    void onOutputItem(const QString& responseID, const QString& itemID);
    void onAssistantItem(const QString& itemID, const QString& previousItemID);
    void onDelta(const ServerEvent& event);
    void onResponseDone(const ServerEvent& event);
    void linkToTurn(const QString& responseID, const QString& itemID);
    void announce(const QString& responseID);
    // False when the error answered a request of this client that is now dealt with.
    bool handleRequestError(const ServerEvent& event);
    void replaceTranscriptionModel(const QString& message);
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
    void onAskAgainDue();
    // Runs `due` once after `wait`; `timer` is null again by the time `due` runs.
    void startOnce(std::unique_ptr<Clock::Timer>& timer, std::chrono::milliseconds wait,
                   void (RealtimeConnection::*due)());
    void handleError(const ServerEvent& event);

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
    bool m_cancelSent = false; // for the active response
    QList<AnswerRequest> m_requests;
    std::optional<AnswerRequest> m_inFlight; // asked for, its response not yet created
    QString m_inFlightEventID;
    QStringList m_unanswered; // committed turns of this socket without an answer, oldest first
    QSet<QString> m_skippedTurns;
    QHash<QString, ResponseLink> m_responses;
    QHash<QString, QString> m_outputItems;  // an answer's item → its response
    QHash<QString, QString> m_itemPrevious; // an answer's item → the item it follows
    QStringList m_finishedResponses;        // newest last
    QHash<QString, QString> m_sentTypes;    // event id → the type of message it went with
    QStringList m_sentOrder;
    quint64 m_eventSerial = 0;
    quint64 m_socketSerial = 0;
    // The answers seeded into this socket's session, for a re-send in the legacy content type.
    struct SeededAnswer {
        QString text;
        QString itemID;
        QString previousItemID;
    };
    QList<SeededAnswer> m_seededAnswers;
    bool m_sessionUpdateSent = false;
    // What the service refused first in this run's setup: later fallbacks never hide it.
    QString m_firstSetupError;
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
    std::unique_ptr<Clock::Timer> m_askAgainTimer;
};
