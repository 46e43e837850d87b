#include "realtime/RealtimeConnection.h"

#include "realtime/HistorySeeding.h"
#include "realtime/RealtimeEndpoint.h"

#include <QNetworkRequest>
#include <QTimer>
#include <QWebSocket>

using RealtimeProtocol::ServerEvent;

namespace {

// Calls a copy: the callback may destroy the client, and with it the function being run.
template <typename Callback, typename... Args>
void call(const Callback& callback, const Args&... args) {
    if (!callback)
        return;
    const Callback keep = callback;
    keep(args...);
}

} // namespace

RealtimeConnection::RealtimeConnection(const RealtimeTiming& timing,
                                       std::optional<QSslConfiguration> ssl,
                                       std::function<void(Notification)> post)
    : m_timing(timing), m_ssl(std::move(ssl)), m_post(std::move(post)) {
    m_pending.reserve(chunkBytes * 4);
}

void RealtimeConnection::startOnce(std::unique_ptr<Clock::Timer>& timer,
                                   std::chrono::milliseconds wait,
                                   void (RealtimeConnection::*due)()) {
    timer = systemClock().schedule(std::chrono::duration<double>(wait).count(), false,
                                   [this, &timer, due] {
                                       timer.reset();
                                       (this->*due)();
                                   });
}

void RealtimeConnection::onPongTimeout() {
    if (m_shouldRun)
        reconnect(
            QStringLiteral("ping failed: no pong within %1 ms").arg(m_timing.pongTimeout.count()));
}

void RealtimeConnection::onReconnectDue() {
    if (m_shouldRun)
        openSocket();
}

RealtimeConnection::~RealtimeConnection() {
    m_shouldRun = false;
    tearDown();
}

void RealtimeConnection::start(const Config& config) {
    m_config = config;
    m_shouldRun = true;
    m_hadSession = false;
    m_reconnectAttempt = 0;
    m_usedLegacyShape = false;
    m_pending.clear();
    openSocket();
}

void RealtimeConnection::stop() {
    m_shouldRun = false;
    m_reconnectPending = false;
    m_reconnectTimer.reset();
    tearDown();
    m_pending.clear();
    report(Status::idle());
}

void RealtimeConnection::append(const QByteArray& pcm16) {
    if (!m_shouldRun)
        return;
    if (!m_isConfigured) {
        holdAudio(pcm16);
        return;
    }
    m_pending.append(pcm16);
    if (m_pending.size() < chunkBytes)
        return;
    const QJsonObject message = RealtimeProtocol::audioAppend(m_pending);
    m_pending.clear();
    send(message);
}

void RealtimeConnection::updateHistory(const QList<HistoryPair>& pairs) {
    m_history = pairs;
}

void RealtimeConnection::updateInstructions(const QString& instructions) {
    if (!m_config)
        return;
    m_config->instructions = instructions;
    if (!m_isConfigured)
        return;
    sendSessionUpdate();
    log(QStringLiteral("Instructions updated live"));
}

void RealtimeConnection::regenerate(const QString& question) {
    if (!m_isConfigured)
        return;
    if (m_activeResponseID) {
        send(RealtimeProtocol::responseCancel());
        m_activeResponseID.reset();
    }
    send(RealtimeProtocol::userText(question));
    send(RealtimeProtocol::responseCreate());
    ++m_requestedResponses;
    log(QStringLiteral("Regenerating answer for the extended question"));
}

void RealtimeConnection::openSocket() {
    if (!m_config)
        return;
    // A start() while a socket is still open must not leave the old one talking.
    m_reconnectTimer.reset();
    tearDown();
    report(m_reconnectAttempt != 0 ? Status::reconnecting() : Status::connecting());
    if (m_config->apiKey.isEmpty()) {
        report(Status::failed(RealtimeEndpoint::noKeyMessage));
        return;
    }
    const auto authorization = RealtimeEndpoint::authorization(m_config->apiKey);
    if (!authorization.error.isEmpty()) {
        report(Status::failed(authorization.error));
        return;
    }
    const auto endpoint =
        RealtimeEndpoint::url(RealtimeEndpoint::overrideFromEnvironment(), m_config->model);
    if (!endpoint.error.isEmpty()) {
        report(Status::failed(endpoint.error));
        return;
    }

    m_isConfigured = false;
    m_seededThisSocket = false;
    m_reconnectPending = false;

    QNetworkRequest request(endpoint.url);
    request.setRawHeader(QByteArrayLiteral("Authorization"), authorization.header);
    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    if (m_ssl)
        m_socket->setSslConfiguration(*m_ssl);
    connect(m_socket, &QWebSocket::connected, this, &RealtimeConnection::onOpened);
    connect(m_socket, &QWebSocket::disconnected, this, &RealtimeConnection::onClosed);
    connect(m_socket, &QWebSocket::textMessageReceived, this,
            [this](const QString& text) { onFrame(text.toUtf8()); });
    connect(m_socket, &QWebSocket::binaryMessageReceived, this,
            [this](const QByteArray& data) { onFrame(QString::fromUtf8(data).toUtf8()); });
    connect(m_socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
            &RealtimeConnection::onSocketError);
    connect(m_socket, &QWebSocket::pong, this, [this] { m_pongTimer.reset(); });
    startOnce(m_handshakeTimer, m_timing.handshakeTimeout, &RealtimeConnection::onHandshakeTimeout);
    m_socket->open(request);
}

void RealtimeConnection::tearDown() {
    m_pingTimer.reset();
    m_pongTimer.reset();
    m_cycleTimer.reset();
    m_handshakeTimer.reset();
    m_isConfigured = false;
    m_cycleDeferred = false;
    // An answer of a socket we have left cannot be cancelled in the next session, and audio it
    // committed gets no answer there.
    m_activeResponseID.reset();
    m_committedItems.clear();
    m_requestedResponses = 0;
    if (!m_socket)
        return;
    QWebSocket* socket = std::exchange(m_socket, nullptr);
    // Whatever the old socket still reports belongs to a connection we have given up.
    disconnect(socket, nullptr, this, nullptr);
    // A socket that has failed may still claim to be connected while it reports the failure;
    // writing a close frame into it only upsets Qt.
    if (socket->state() == QAbstractSocket::ConnectedState &&
        socket->error() == QAbstractSocket::UnknownSocketError) {
        // Let the close frame (1001, going away) reach the server before the socket goes.
        connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(std::chrono::seconds(5), socket, &QObject::deleteLater);
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
    } else {
        socket->abort();
        socket->deleteLater();
    }
}

void RealtimeConnection::reconnect(const QString& reason, const QString& statusText) {
    if (!m_shouldRun || m_reconnectPending)
        return;
    m_reconnectPending = true;
    tearDown();
    const int steps = RealtimeTiming::backoffSteps(m_reconnectAttempt);
    ++m_reconnectAttempt;
    log(QStringLiteral("Reconnecting in %1s — ").arg(steps) + reason);
    report({Status::Kind::reconnecting,
            statusText.contains(u"%1") ? statusText.arg(steps) : statusText});
    startOnce(m_reconnectTimer, m_timing.backoffUnit * steps, &RealtimeConnection::onReconnectDue);
}

void RealtimeConnection::fail(const QString& message) {
    m_reconnectTimer.reset();
    tearDown();
    report(Status::failed(message));
}

// Between sockets of a running session the meeting goes on: what is said then is kept for the
// next session, the newest 5 s of it.
void RealtimeConnection::holdAudio(const QByteArray& pcm16) {
    if (!m_hadSession)
        return;
    m_pending.append(pcm16);
    if (m_pending.size() > handshakeAudioBytes)
        m_pending.remove(0, m_pending.size() - handshakeAudioBytes);
}

void RealtimeConnection::sendHeldAudio() {
    if (m_pending.size() < chunkBytes)
        return;
    log(QStringLiteral("Sending %1 ms of audio captured while reconnecting")
            .arg(m_pending.size() * 1000 / (24000 * 2)));
    for (qsizetype from = 0; from < m_pending.size() && m_socket; from += maxAppendBytes)
        send(RealtimeProtocol::audioAppend(m_pending.mid(from, maxAppendBytes)));
    m_pending.clear();
}

void RealtimeConnection::send(const QJsonObject& message) {
    if (!m_socket)
        return;
    const QString text = RealtimeProtocol::serialize(message);
    if (text.isEmpty())
        return;
    const qint64 sent = m_socket->sendTextMessage(text);
    if (sent <= 0)
        reconnect(QStringLiteral("send failed: ") + m_socket->errorString());
}

void RealtimeConnection::sendSessionUpdate() {
    if (m_config)
        send(RealtimeProtocol::sessionUpdate(*m_config, m_usedLegacyShape));
}

void RealtimeConnection::seedHistory() {
    if (m_seededThisSocket)
        return;
    m_seededThisSocket = true;
    const QList<HistoryPair> taken = HistorySeeding::select(m_history);
    if (taken.isEmpty())
        return;
    for (const HistoryPair& pair : taken) {
        if (!pair.question.isEmpty())
            send(RealtimeProtocol::userText(pair.question));
        if (!pair.answer.isEmpty())
            send(RealtimeProtocol::assistantText(pair.answer, m_assistantContentType));
    }
    log(QStringLiteral("Seeded %1 earlier Q&A pair(s) into the new session").arg(taken.size()));
}

void RealtimeConnection::startSessionTimers() {
    if (!m_config)
        return;
    m_pongTimer.reset();
    m_pingTimer =
        systemClock().schedule(std::chrono::duration<double>(m_timing.pingInterval).count(), true,
                               [this] { onPingDue(); });
    startOnce(m_cycleTimer, m_timing.cycleInterval(m_config->reconnectMinutes),
              &RealtimeConnection::onCycleDue);
}

void RealtimeConnection::onOpened() {
    log(QStringLiteral("WebSocket open"));
    sendSessionUpdate();
}

void RealtimeConnection::onFrame(const QByteArray& utf8) {
    const ServerEvent event = RealtimeProtocol::decode(utf8);
    switch (event.kind) {
    case ServerEvent::Kind::ignored:
        break;
    case ServerEvent::Kind::sessionCreated:
        sendSessionUpdate();
        break;
    case ServerEvent::Kind::sessionUpdated:
        if (m_isConfigured)
            break;
        m_handshakeTimer.reset();
        m_isConfigured = true;
        m_hadSession = true;
        m_reconnectAttempt = 0;
        seedHistory();
        sendHeldAudio();
        startSessionTimers();
        report(Status::connected());
        break;
    case ServerEvent::Kind::transcript:
        if (event.usage) {
            m_post([usage = *event.usage](RealtimeClientInterface& client) {
                call(client.onTranscriptionUsage, usage);
            });
        }
        if (event.text.isEmpty()) {
            m_post([id = event.id](RealtimeClientInterface& client) {
                call(client.onTranscriptionFailed, id,
                     QStringLiteral("the transcript came back empty"));
            });
        } else {
            m_post([id = event.id, text = event.text](RealtimeClientInterface& client) {
                call(client.onTranscript, id, text);
            });
        }
        break;
    case ServerEvent::Kind::transcriptionFailed:
        m_post([id = event.id, text = event.text](RealtimeClientInterface& client) {
            call(client.onTranscriptionFailed, id, text);
        });
        break;
    case ServerEvent::Kind::committed:
        m_committedItems.append(event.id);
        // Turn detection answers every commit; a service that answers some other way must not
        // make this grow for the whole session.
        if (m_committedItems.size() > maxUnansweredItems)
            m_committedItems.removeFirst();
        break;
    case ServerEvent::Kind::responseCreated: {
        m_activeResponseID = event.id;
        // Responses come in the order they were asked for: the ones this client requested, and
        // one for each committed turn, oldest first.
        QString itemID;
        if (m_requestedResponses > 0)
            --m_requestedResponses;
        else if (!m_committedItems.isEmpty())
            itemID = m_committedItems.takeFirst();
        m_post([id = event.id, itemID](RealtimeClientInterface& client) {
            call(client.onResponseCreated, id, itemID);
        });
        break;
    }
    case ServerEvent::Kind::delta:
        m_post([id = event.id, text = event.text](RealtimeClientInterface& client) {
            call(client.onDelta, id, text);
        });
        break;
    case ServerEvent::Kind::responseDone:
        if (m_activeResponseID == event.id)
            m_activeResponseID.reset();
        // Two notifications: the usage callback may end the client before the done one.
        if (event.usage) {
            m_post([usage = *event.usage](RealtimeClientInterface& client) {
                call(client.onUsage, usage);
            });
        }
        if (!event.status.isEmpty()) {
            m_post([id = event.id, end = ResponseEnd{event.status, event.reason, event.text}](
                       RealtimeClientInterface& client) {
                call(client.onResponseUnfinished, id, end);
            });
        }
        m_post(
            [id = event.id](RealtimeClientInterface& client) { call(client.onResponseDone, id); });
        // Not from inside the socket's own signal: the cycle replaces that socket.
        if (m_cycleDeferred && !m_activeResponseID)
            startOnce(m_cycleTimer, std::chrono::milliseconds(0), &RealtimeConnection::onCycleDue);
        break;
    case ServerEvent::Kind::error:
        handleError(event.text, event.reason);
        break;
    }
}

void RealtimeConnection::handleError(const QString& message, const QString& code) {
    using RealtimeProtocol::ErrorAction;
    switch (RealtimeProtocol::classifyError(message, m_isConfigured, m_usedLegacyShape,
                                            m_assistantContentType)) {
    case ErrorAction::legacyShapeFallback:
        m_usedLegacyShape = true;
        log(QStringLiteral("Falling back to legacy session shape"));
        sendSessionUpdate();
        return;
    case ErrorAction::contentTypeFallback:
        m_assistantContentType = RealtimeProtocol::legacyTextContentType;
        m_seededThisSocket = false;
        log(QStringLiteral("Re-seeding history with legacy assistant content type"));
        seedHistory();
        return;
    case ErrorAction::report:
        log(QStringLiteral("API error: ") + message);
        if (m_isConfigured) {
            m_post([code, message](RealtimeClientInterface& client) {
                call(client.onServiceError, code, message);
            });
            return;
        }
        // Only the first socket of a run may end it: a later one failing its setup is a fault
        // of the moment, like a dropped connection.
        if (m_hadSession)
            reconnect(QStringLiteral("the session setup failed: ") + message);
        else
            report(Status::failed(message));
        return;
    }
}

void RealtimeConnection::onSocketError(QAbstractSocket::SocketError) {
    if (!m_shouldRun || !m_socket)
        return;
    onSocketFailure(m_socket->errorString());
}

void RealtimeConnection::onClosed() {
    if (!m_shouldRun || !m_socket)
        return;
    // A refused or reset connection reports "closed" (code 1000) before its error: the error is
    // the true reason.
    if (m_socket->error() != QAbstractSocket::UnknownSocketError) {
        onSocketFailure(m_socket->errorString());
        return;
    }
    const QString text =
        RealtimeEndpoint::closeReasonText(m_socket->closeCode(), m_socket->closeReason());
    reconnect(QStringLiteral("socket closed (") + text + QLatin1Char(')'));
}

void RealtimeConnection::onSocketFailure(const QString& reason) {
    const std::optional<int> status =
        m_isConfigured ? std::nullopt : RealtimeEndpoint::refusedUpgradeStatus(reason);
    if (!status) {
        reconnect(reason);
        return;
    }
    const QString http =
        QStringLiteral("(HTTP ") + RealtimeEndpoint::httpStatusText(*status) + QLatin1Char(')');
    if (*status == 429) {
        reconnect(reason, QStringLiteral("The Realtime service is rate limited ") + http +
                              QStringLiteral(" — retrying in %1 s."));
        return;
    }
    if (*status >= 500 || *status == 408) {
        reconnect(reason, QStringLiteral("The Realtime service is unavailable ") + http +
                              QStringLiteral(" — retrying in %1 s."));
        return;
    }
    // Any other refusal is the user's to fix (a wrong key, address or model): retrying would
    // never succeed and never say why. Once a session has run, it is a fault of the moment.
    if (m_hadSession) {
        reconnect(reason, QStringLiteral("The Realtime service refused the connection ") + http +
                              QStringLiteral(" — retrying in %1 s."));
        return;
    }
    log(QStringLiteral("WebSocket upgrade refused: ") + reason);
    fail(RealtimeEndpoint::rejectedKeyStatus(reason)
             ? RealtimeEndpoint::rejectedKeyMessage(*status)
             : RealtimeEndpoint::refusedUpgradeMessage(*status));
}

void RealtimeConnection::onHandshakeTimeout() {
    if (!m_shouldRun)
        return;
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
        reconnect(QStringLiteral("the session setup was not answered within %1 ms")
                      .arg(m_timing.handshakeTimeout.count()),
                  QStringLiteral("The Realtime service did not answer the session setup — "
                                 "reconnecting in %1 s."));
    else
        reconnect(QStringLiteral("the handshake timed out"),
                  QStringLiteral("The Realtime service did not answer the connection — "
                                 "reconnecting in %1 s."));
}

void RealtimeConnection::onPingDue() {
    if (!m_socket)
        return;
    m_socket->ping();
    if (!m_pongTimer)
        startOnce(m_pongTimer, m_timing.pongTimeout, &RealtimeConnection::onPongTimeout);
}

void RealtimeConnection::onCycleDue() {
    if (!m_shouldRun || !m_config)
        return;
    // Cycling mid-answer would leave its card unfinished: wait for it, but not for ever.
    if (m_activeResponseID && !m_cycleDeferred) {
        m_cycleDeferred = true;
        log(QStringLiteral("Cycling session once the answer in progress ends (at most %1 ms)")
                .arg(m_timing.cycleGrace.count()));
        startOnce(m_cycleTimer, m_timing.cycleGrace, &RealtimeConnection::onCycleDue);
        return;
    }
    cycle();
}

void RealtimeConnection::cycle() {
    if (!m_config)
        return;
    log(QStringLiteral("Cycling session (%1 min limit)")
            .arg(RealtimeTiming::cycleMinutes(m_config->reconnectMinutes)));
    m_reconnectAttempt = 0;
    tearDown();
    openSocket();
}

// Server error texts, close reasons and socket errors may echo the key: nothing leaves here
// unmasked.
QString RealtimeConnection::masked(const QString& text) const {
    return RealtimeEndpoint::maskSecrets(text, m_config ? m_config->apiKey : QString());
}

void RealtimeConnection::report(const Status& status) {
    Status shown = status;
    shown.message = masked(status.message);
    m_post([shown](RealtimeClientInterface& client) { call(client.onStatus, shown); });
}

void RealtimeConnection::log(const QString& line) {
    m_post([line = masked(line)](RealtimeClientInterface& client) { call(client.onLog, line); });
}
