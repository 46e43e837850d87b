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
    m_firstSetupError.clear();
    m_requests.clear();
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
    // During the handshake the configuration already sent is replaced at once.
    if (!m_isConfigured) {
        if (m_sessionUpdateSent)
            sendSessionUpdate();
        return;
    }
    sendSessionUpdate();
    log(QStringLiteral("Instructions updated live"));
}

void RealtimeConnection::regenerate(const QString& cardID, const QString& question,
                                    const QByteArray& image) {
    // Asked while a new socket is set up, it goes out once that session is ready.
    if (!m_shouldRun)
        return;
    // A question that grew again replaces the one still waiting.
    m_requests.removeIf([&](const AnswerRequest& r) { return r.cardID == cardID; });
    m_requests.append({{}, cardID, question, image, false});
    log(QStringLiteral("Regenerating answer for the extended question"));
    askForNextAnswer();
}

void RealtimeConnection::cancelResponse(const QString& responseID) {
    if (!m_isConfigured || m_activeResponseID != responseID || m_cancelSent)
        return;
    m_cancelSent = true;
    send(RealtimeProtocol::responseCancel());
}

void RealtimeConnection::skipTurn(const QString& itemID) {
    m_skippedTurns.insert(itemID);
    m_unanswered.removeAll(itemID);
    m_requests.removeIf([&](const AnswerRequest& r) { return r.itemID == itemID; });
}

bool RealtimeConnection::conversationBusy() const {
    return m_activeResponseID || m_inFlight || !m_requests.isEmpty();
}

// The service writes one answer at a time and refuses a second while one runs: the next request
// goes out only once the conversation is free, oldest first.
void RealtimeConnection::askForNextAnswer() {
    if (!m_isConfigured || m_activeResponseID || m_inFlight)
        return;
    while (!m_requests.isEmpty()) {
        AnswerRequest request = m_requests.takeFirst();
        // A turn the service answered by itself meanwhile needs nothing more.
        if (!request.itemID.isEmpty() && !m_unanswered.contains(request.itemID))
            continue;
        if (!request.questionSent && !request.question.isEmpty()) {
            send(request.image.isEmpty()
                     ? RealtimeProtocol::userText(request.question)
                     : RealtimeProtocol::userTextWithImage(request.question, request.image));
            request.questionSent = true;
        }
        QJsonObject metadata;
        if (!request.cardID.isEmpty())
            metadata.insert(QStringLiteral("card"), request.cardID);
        else
            metadata.insert(QStringLiteral("item"), request.itemID);
        m_inFlight = request;
        m_inFlightEventID = nextEventID();
        metadata.insert(QStringLiteral("request"), m_inFlightEventID);
        send(RealtimeProtocol::responseCreate(metadata), m_inFlightEventID);
        return;
    }
}

void RealtimeConnection::onAskAgainDue() {
    askForNextAnswer();
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
    m_sessionUpdateSent = false;
    ++m_socketSerial;

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
    m_cancelSent = false;
    m_askAgainTimer.reset();
    // A card's question can be asked again in the next session; a turn's audio is not there.
    if (m_inFlight)
        m_requests.prepend(*std::exchange(m_inFlight, std::nullopt));
    m_requests.removeIf([](const AnswerRequest& r) { return !r.itemID.isEmpty(); });
    for (AnswerRequest& request : m_requests)
        request.questionSent = false;
    m_unanswered.clear();
    m_skippedTurns.clear();
    m_responses.clear();
    m_outputItems.clear();
    m_itemPrevious.clear();
    m_finishedResponses.clear();
    m_sentTypes.clear();
    m_sentOrder.clear();
    m_seededAnswers.clear();
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

QString RealtimeConnection::nextEventID() {
    return QStringLiteral("corvinel_%1_%2").arg(m_socketSerial).arg(++m_eventSerial);
}

QString RealtimeConnection::send(const QJsonObject& message, const QString& id) {
    if (!m_socket)
        return {};
    // Every message carries an id, so an error the service sends back names its cause.
    const QString eventID = id.isEmpty() ? nextEventID() : id;
    const QString text =
        RealtimeProtocol::serialize(RealtimeProtocol::withEventID(message, eventID));
    if (text.isEmpty())
        return {};
    const QString type = message.value(QStringLiteral("type")).toString();
    if (type != u"input_audio_buffer.append") {
        m_sentTypes.insert(eventID, type);
        m_sentOrder.append(eventID);
        if (m_sentOrder.size() > rememberedIds)
            m_sentTypes.remove(m_sentOrder.takeFirst());
    }
    const qint64 sent = m_socket->sendTextMessage(text);
    if (sent <= 0) {
        reconnect(QStringLiteral("send failed: ") + m_socket->errorString());
        return {};
    }
    // Handed to the kernel now: left in the socket's buffer, the message would wait for the
    // event loop to come round again, a second pass of this thread for every audio chunk.
    m_socket->flush();
    return eventID;
}

void RealtimeConnection::sendSessionUpdate() {
    if (!m_config)
        return;
    m_sessionUpdateSent = true;
    send(RealtimeProtocol::sessionUpdate(*m_config, m_usedLegacyShape));
}

void RealtimeConnection::seedHistory() {
    if (m_seededThisSocket)
        return;
    m_seededThisSocket = true;
    const QList<HistoryPair> taken = HistorySeeding::select(m_history);
    if (taken.isEmpty())
        return;
    // Seeded items carry ids of their own, so an answer refused in one content type can be put
    // back in its place in another without asking its question twice.
    QString previous;
    int index = 0;
    for (const HistoryPair& pair : taken) {
        ++index;
        if (!pair.question.isEmpty()) {
            const QString id = QStringLiteral("seed_%1_%2q").arg(m_socketSerial).arg(index);
            send(RealtimeProtocol::userText(pair.question, id));
            previous = id;
        }
        if (!pair.answer.isEmpty()) {
            const QString id = QStringLiteral("seed_%1_%2a").arg(m_socketSerial).arg(index);
            m_seededAnswers.append({pair.answer, id, previous});
            send(RealtimeProtocol::assistantText(pair.answer, m_assistantContentType, id));
            previous = id;
        }
    }
    log(QStringLiteral("Seeded %1 earlier Q&A pair(s) into the new session").arg(taken.size()));
}

void RealtimeConnection::resendSeededAnswers() {
    for (const SeededAnswer& answer : std::as_const(m_seededAnswers))
        send(RealtimeProtocol::assistantText(answer.text, m_assistantContentType,
                                             answer.itemID + u't', answer.previousItemID));
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
        // The configuration went out when the socket opened; once per socket is enough.
        if (!m_sessionUpdateSent)
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
        askForNextAnswer();
        break;
    case ServerEvent::Kind::transcriptDelta:
        m_post([id = event.id, text = event.text](RealtimeClientInterface& client) {
            call(client.onTranscriptDelta, id, text);
        });
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
        onCommitted(event);
        break;
    case ServerEvent::Kind::responseCreated:
        onResponseCreated(event);
        break;
    case ServerEvent::Kind::outputItemAdded:
        onOutputItem(event.id, event.itemID);
        break;
    case ServerEvent::Kind::itemAdded:
        if (event.text == u"assistant")
            onAssistantItem(event.id, event.previousItemID);
        break;
    case ServerEvent::Kind::delta:
        onDelta(event);
        break;
    case ServerEvent::Kind::strayDelta:
        log(QStringLiteral("Dropped answer text that named no response"));
        break;
    case ServerEvent::Kind::responseDone:
        onResponseDone(event);
        break;
    case ServerEvent::Kind::error:
        handleError(event);
        break;
    }
}

void RealtimeConnection::onCommitted(const ServerEvent& event) {
    if (m_skippedTurns.contains(event.id))
        return;
    m_unanswered.append(event.id);
    if (m_unanswered.size() > maxUnansweredItems)
        m_unanswered.removeFirst();
    // The service answers a turn by itself only when no other answer is under way (or asked
    // for); otherwise this client asks for it once the conversation is free.
    if (!conversationBusy())
        return;
    m_requests.append({event.id, {}, {}, {}, false});
    m_post([id = event.id](RealtimeClientInterface& client) { call(client.onTurnWaiting, id); });
}

void RealtimeConnection::onResponseCreated(const ServerEvent& event) {
    m_activeResponseID = event.id;
    m_cancelSent = false;
    ResponseLink link;
    link.cardID = event.metadata.value(QStringLiteral("card")).toString();
    link.itemID = event.metadata.value(QStringLiteral("item")).toString();
    if (m_inFlight &&
        event.metadata.value(QStringLiteral("request")).toString() == m_inFlightEventID)
        m_inFlight.reset();
    m_responses.insert(event.id, link);
    if (!link.itemID.isEmpty()) {
        m_unanswered.removeAll(link.itemID);
        announce(event.id);
    } else if (!link.cardID.isEmpty()) {
        announce(event.id);
    }
    // An answer the service started by itself is announced once it says what it follows.
}

void RealtimeConnection::onOutputItem(const QString& responseID, const QString& itemID) {
    m_outputItems.insert(itemID, responseID);
    const auto previous = m_itemPrevious.constFind(itemID);
    if (previous != m_itemPrevious.constEnd())
        linkToTurn(responseID, *previous);
}

void RealtimeConnection::onAssistantItem(const QString& itemID, const QString& previousItemID) {
    m_itemPrevious.insert(itemID, previousItemID);
    const auto response = m_outputItems.constFind(itemID);
    if (response != m_outputItems.constEnd())
        linkToTurn(*response, previousItemID);
}

// An answer the service started by itself answers the turn its text follows in the
// conversation.
void RealtimeConnection::linkToTurn(const QString& responseID, const QString& itemID) {
    const auto link = m_responses.find(responseID);
    if (link == m_responses.end() || link->announced)
        return;
    if (link->itemID.isEmpty() && link->cardID.isEmpty() && m_unanswered.removeAll(itemID) > 0)
        link->itemID = itemID;
    announce(responseID);
}

void RealtimeConnection::announce(const QString& responseID) {
    const auto link = m_responses.find(responseID);
    if (link == m_responses.end() || link->announced)
        return;
    link->announced = true;
    m_post([id = responseID, item = link->itemID,
            card = link->cardID](RealtimeClientInterface& client) {
        call(client.onResponseCreated, id, item, card);
    });
}

void RealtimeConnection::onDelta(const ServerEvent& event) {
    const auto link = m_responses.constFind(event.id);
    if (link == m_responses.constEnd()) {
        log(m_finishedResponses.contains(event.id)
                ? QStringLiteral("Dropped text that came after its answer ended (%1)").arg(event.id)
                : QStringLiteral("Dropped text of an answer never announced (%1)").arg(event.id));
        return;
    }
    if (!link->announced) {
        const auto previous = m_itemPrevious.constFind(event.itemID);
        if (previous != m_itemPrevious.constEnd())
            linkToTurn(event.id, *previous);
        announce(event.id);
    }
    m_post([id = event.id, text = event.text](RealtimeClientInterface& client) {
        call(client.onDelta, id, text);
    });
}

void RealtimeConnection::onResponseDone(const ServerEvent& event) {
    if (!m_responses.contains(event.id)) {
        log(QStringLiteral("Ignored the end of an answer never announced (%1)").arg(event.id));
        return;
    }
    announce(event.id); // one that ended before any text still reaches its card
    m_responses.remove(event.id);
    m_finishedResponses.append(event.id);
    if (m_finishedResponses.size() > rememberedIds)
        m_finishedResponses.removeFirst();
    if (m_activeResponseID == event.id) {
        m_activeResponseID.reset();
        m_cancelSent = false;
    }
    // Separate notifications: the usage callback may end the client before the done one.
    if (event.usage) {
        m_post([usage = *event.usage](RealtimeClientInterface& client) {
            call(client.onUsage, usage);
        });
    }
    if (!event.status.isEmpty()) {
        m_post(
            [id = event.id, end = ResponseEnd{event.status, event.reason, event.text}](
                RealtimeClientInterface& client) { call(client.onResponseUnfinished, id, end); });
    }
    m_post([id = event.id](RealtimeClientInterface& client) { call(client.onResponseDone, id); });
    // Not from inside the socket's own signal: the cycle replaces that socket.
    if (m_cycleDeferred && !m_activeResponseID) {
        startOnce(m_cycleTimer, std::chrono::milliseconds(0), &RealtimeConnection::onCycleDue);
        return;
    }
    askForNextAnswer();
}

bool RealtimeConnection::handleRequestError(const ServerEvent& event) {
    if (event.causeEventID.isEmpty())
        return false;
    if (m_inFlight && event.causeEventID == m_inFlightEventID) {
        AnswerRequest request = *std::exchange(m_inFlight, std::nullopt);
        if (event.reason == u"conversation_already_has_active_response") {
            // Another answer began first: this one goes out again when that one ends.
            m_requests.prepend(request);
            log(QStringLiteral("An answer request waits for the one in progress"));
            if (!m_activeResponseID)
                startOnce(m_askAgainTimer, m_timing.askAgainDelay,
                          &RealtimeConnection::onAskAgainDue);
            return true;
        }
        log(QStringLiteral("API error: ") + event.text);
        m_post([item = request.itemID, card = request.cardID, code = event.reason,
                message = event.text](RealtimeClientInterface& client) {
            call(client.onAnswerRefused, item, card, code, message);
        });
        askForNextAnswer();
        return true;
    }
    if (m_sentTypes.value(event.causeEventID) == u"response.cancel" &&
        event.reason == u"response_cancel_not_active") {
        log(QStringLiteral("Nothing to cancel: the answer had already ended"));
        return true;
    }
    return false;
}

// The service names the models it takes; the one it documents for turns of a conversation is
// the first choice among them.
void RealtimeConnection::replaceTranscriptionModel(const QString& message) {
    const QString refused = m_config->transcribeModel;
    const QStringList offered = RealtimeProtocol::supportedValues(message);
    QString used = QStringLiteral("gpt-transcribe");
    if (!offered.isEmpty() && !offered.contains(used))
        used = offered.first();
    m_config->transcribeModel = used;
    log(QStringLiteral("The service refused the transcription model %1; using %2")
            .arg(refused, used));
    m_post([refused, used](RealtimeClientInterface& client) {
        call(client.onTranscriptionModelReplaced, refused, used);
    });
    sendSessionUpdate();
}

void RealtimeConnection::handleError(const ServerEvent& event) {
    if (handleRequestError(event))
        return;
    const QString& message = event.text;
    const QString& code = event.reason;
    using RealtimeProtocol::ErrorAction;
    ErrorAction action = RealtimeProtocol::classifyError(message, m_isConfigured, m_usedLegacyShape,
                                                         m_assistantContentType, event.param);
    // A second refusal of the model taken instead is the service's last word.
    if (action == ErrorAction::transcriptionModelFallback &&
        (!m_config || m_config->transcribeModel == u"gpt-transcribe" ||
         RealtimeProtocol::supportedValues(message).contains(m_config->transcribeModel)))
        action = ErrorAction::report;
    switch (action) {
    case ErrorAction::transcriptionModelFallback:
        replaceTranscriptionModel(message);
        return;
    case ErrorAction::legacyShapeFallback:
        m_usedLegacyShape = true;
        m_firstSetupError = message;
        log(QStringLiteral("Falling back to legacy session shape"));
        sendSessionUpdate();
        return;
    case ErrorAction::contentTypeFallback:
        m_assistantContentType = RealtimeProtocol::legacyTextContentType;
        log(QStringLiteral("Re-seeding history with legacy assistant content type"));
        resendSeededAnswers();
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
            report(Status::failed(m_firstSetupError.isEmpty() ? message : m_firstSetupError));
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
    // The service closes on the retired legacy shape: what it refused in the current shape is
    // the reason to show, and retrying would only repeat it.
    if (!m_isConfigured && !m_hadSession && !m_firstSetupError.isEmpty()) {
        log(QStringLiteral("socket closed (") + text + QLatin1Char(')'));
        fail(m_firstSetupError);
        return;
    }
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
