#include "support/FakeRealtimeServer.h"

#include <QFile>
#include <QJsonDocument>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

QByteArray readCertFile(const char* name) {
    QFile file(QStringLiteral(FAKE_REALTIME_CERT_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QSslCertificate serverCertificate() {
    return QSslCertificate(readCertFile("fake-realtime.crt"), QSsl::Pem);
}

QSslConfiguration serverSslConfiguration() {
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(serverCertificate());
    config.setPrivateKey(QSslKey(readCertFile("fake-realtime.key"), QSsl::Ec, QSsl::Pem));
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    return config;
}

} // namespace

// Hands out plain sockets, or for TLS sockets that start the server side of the handshake.
class FakeRealtimeListener : public QTcpServer {
public:
    explicit FakeRealtimeListener(bool tls) : m_tls(tls) {}

protected:
    void incomingConnection(qintptr descriptor) override {
        if (!m_tls) {
            QTcpServer::incomingConnection(descriptor);
            return;
        }
        auto* socket = new QSslSocket(this);
        socket->setSslConfiguration(serverSslConfiguration());
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->startServerEncryption();
        addPendingConnection(socket);
    }

private:
    const bool m_tls;
};

FakeRealtimeServer::FakeRealtimeServer(Transport transport, QObject* parent)
    : QObject(parent), m_transport(transport),
      m_listener(std::make_unique<FakeRealtimeListener>(transport == Transport::tls)),
      m_upgrader(std::make_unique<QWebSocketServer>(QStringLiteral("fake-realtime"),
                                                    QWebSocketServer::NonSecureMode)) {
    connect(m_listener.get(), &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_listener->nextPendingConnection())
            onTcpConnection(socket);
    });
    connect(m_upgrader.get(), &QWebSocketServer::newConnection, this,
            &FakeRealtimeServer::onWebSocket);
}

FakeRealtimeServer::~FakeRealtimeServer() {
    kill();
}

bool FakeRealtimeServer::listen() {
    if (m_listener->isListening())
        return true;
    if (!m_listener->listen(QHostAddress::LocalHost, m_port))
        return false;
    m_port = m_listener->serverPort();
    return true;
}

QUrl FakeRealtimeServer::url() const {
    const QString scheme =
        m_transport == Transport::tls ? QStringLiteral("wss") : QStringLiteral("ws");
    return QUrl(QStringLiteral("%1://127.0.0.1:%2/v1/realtime").arg(scheme).arg(m_port));
}

void FakeRealtimeServer::kill() {
    m_listener->close();
    if (m_current)
        m_current->abort();
    for (const QPointer<QTcpSocket>& socket : std::as_const(m_tcpSockets)) {
        if (socket)
            socket->abort();
    }
    m_tcpSockets.clear();
}

void FakeRealtimeServer::refuseUpgrades(int httpStatus) {
    m_refuseStatus = httpStatus;
}

void FakeRealtimeServer::stallUpgrades(bool stall) {
    m_stallUpgrades = stall;
}

void FakeRealtimeServer::onTcpConnection(QTcpSocket* socket) {
    m_tcpSockets.append(socket);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRequestBytes(socket); });
}

// Reads the upgrade request without consuming it, so the WebSocket server can still parse it.
void FakeRealtimeServer::onRequestBytes(QTcpSocket* socket) {
    const QByteArray head = socket->peek(64 * 1024);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);

    const QList<QByteArray> lines = head.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    m_lastTarget = QString::fromUtf8(requestLine.value(1));
    m_lastHeaders.clear();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            m_lastHeaders.insert(lines[i].left(colon).trimmed().toLower(),
                                 lines[i].mid(colon + 1).trimmed());
    }
    ++m_upgradeRequests;
    emit upgradeRequested();

    if (m_stallUpgrades)
        return;
    if (m_refuseStatus != 0) {
        socket->write("HTTP/1.1 " + QByteArray::number(m_refuseStatus) +
                      " Refused\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    m_upgrader->handleConnection(socket);
    // The request is already buffered; make sure the upgrader looks at it.
    if (socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(socket, "readyRead", Qt::QueuedConnection);
}

void FakeRealtimeServer::onWebSocket() {
    while (QWebSocket* socket = m_upgrader->nextPendingConnection()) {
        socket->setParent(this);
        m_current = socket;
        ++m_connectionCount;
        connect(socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
            const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
            const QJsonObject frame = document.isObject()
                                          ? document.object()
                                          : QJsonObject{{QStringLiteral("unparsed"), text}};
            // Kept apart, so a frame compares equal to the message the protocol builds.
            QJsonObject kept = frame;
            m_eventIds.append(kept.take(QStringLiteral("event_id")).toString());
            m_frames.append(kept);
            emit frameReceived(frame);
            if (m_autoConfigure &&
                frame.value(QStringLiteral("type")).toString() == u"session.update")
                sendSessionUpdated();
        });
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            m_lastCloseCode = socket->closeCode();
            ++m_disconnections;
            emit clientDisconnected(m_lastCloseCode);
            socket->deleteLater();
        });
        emit clientConnected();
    }
}

bool FakeRealtimeServer::isConnected() const {
    return m_current && m_current->state() == QAbstractSocket::ConnectedState;
}

void FakeRealtimeServer::send(const QJsonObject& event) {
    QJsonObject stamped = event;
    if (m_stampEvents && !stamped.contains(QStringLiteral("event_id")))
        stamped.insert(QStringLiteral("event_id"), QStringLiteral("event_%1").arg(++m_eventSerial));
    sendText(QString::fromUtf8(QJsonDocument(stamped).toJson(QJsonDocument::Compact)));
}

void FakeRealtimeServer::sendText(const QString& text) {
    if (m_current)
        m_current->sendTextMessage(text);
}

void FakeRealtimeServer::sendBinary(const QByteArray& data) {
    if (m_current)
        m_current->sendBinaryMessage(data);
}

void FakeRealtimeServer::sendError(const QString& message) {
    send({{QStringLiteral("type"), QStringLiteral("error")},
          {QStringLiteral("error"), QJsonObject{{QStringLiteral("message"), message}}}});
}

void FakeRealtimeServer::sendSessionCreated() {
    send({{QStringLiteral("type"), QStringLiteral("session.created")}});
}

void FakeRealtimeServer::sendSessionUpdated() {
    send({{QStringLiteral("type"), QStringLiteral("session.updated")}});
}

void FakeRealtimeServer::sendCommitted(const QString& itemId) {
    send({{QStringLiteral("type"), QStringLiteral("input_audio_buffer.committed")},
          {QStringLiteral("item_id"), itemId}});
}

void FakeRealtimeServer::sendTranscript(const QString& itemId, const QString& transcript) {
    send({{QStringLiteral("type"),
           QStringLiteral("conversation.item.input_audio_transcription.completed")},
          {QStringLiteral("item_id"), itemId},
          {QStringLiteral("transcript"), transcript}});
}

void FakeRealtimeServer::sendResponseCreated(const QString& responseId) {
    send({{QStringLiteral("type"), QStringLiteral("response.created")},
          {QStringLiteral("response"), QJsonObject{{QStringLiteral("id"), responseId}}}});
}

void FakeRealtimeServer::sendDelta(const QString& responseId, const QString& delta) {
    send({{QStringLiteral("type"), QStringLiteral("response.output_text.delta")},
          {QStringLiteral("response_id"), responseId},
          {QStringLiteral("delta"), delta}});
}

void FakeRealtimeServer::sendResponseDone(const QString& responseId, const QJsonObject& usage) {
    QJsonObject response{{QStringLiteral("id"), responseId}};
    if (!usage.isEmpty())
        response.insert(QStringLiteral("usage"), usage);
    send({{QStringLiteral("type"), QStringLiteral("response.done")},
          {QStringLiteral("response"), response}});
}

void FakeRealtimeServer::close(int code, const QString& reason) {
    if (m_current)
        m_current->close(QWebSocketProtocol::CloseCode(code), reason);
}

void FakeRealtimeServer::dropConnection() {
    if (m_current)
        m_current->abort();
}

void FakeRealtimeServer::stall() {
    if (!m_current)
        return;
    // The WebSocket reads its TCP socket on readyRead; without it nothing is taken in.
    for (QTcpSocket* tcp : m_current->findChildren<QTcpSocket*>())
        disconnect(tcp, &QTcpSocket::readyRead, nullptr, nullptr);
    for (const QPointer<QTcpSocket>& tcp : std::as_const(m_tcpSockets)) {
        if (tcp)
            disconnect(tcp, &QTcpSocket::readyRead, nullptr, nullptr);
    }
}

QList<QJsonObject> FakeRealtimeServer::frames(const QString& type) const {
    QList<QJsonObject> result;
    for (const QJsonObject& frame : m_frames) {
        if (frame.value(QStringLiteral("type")).toString() == type)
            result.append(frame);
    }
    return result;
}

QStringList FakeRealtimeServer::frameTypes() const {
    QStringList types;
    for (const QJsonObject& frame : m_frames)
        types.append(frame.value(QStringLiteral("type")).toString());
    return types;
}

bool FakeRealtimeServer::waitForConnections(int count, int timeoutMs) {
    return QTest::qWaitFor([&] { return m_connectionCount >= count; }, timeoutMs);
}

bool FakeRealtimeServer::waitForFrames(const QString& type, int count, int timeoutMs) {
    return QTest::qWaitFor([&] { return frames(type).size() >= count; }, timeoutMs);
}

bool FakeRealtimeServer::waitForUpgradeRequests(int count, int timeoutMs) {
    return QTest::qWaitFor([&] { return m_upgradeRequests >= count; }, timeoutMs);
}

bool FakeRealtimeServer::waitForDisconnections(int count, int timeoutMs) {
    return QTest::qWaitFor([&] { return m_disconnections >= count; }, timeoutMs);
}

QSslConfiguration FakeRealtimeServer::clientSslConfiguration() {
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setCaCertificates({serverCertificate()});
    return config;
}
