#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QUrl>
#include <memory>

class QTcpSocket;
class QWebSocket;
class QWebSocketServer;
class FakeRealtimeListener;

// A scriptable stand-in for the OpenAI Realtime endpoint on 127.0.0.1, plain (ws) or TLS (wss,
// with a self-signed certificate that clientSslConfiguration() trusts). It records every frame
// a client sends as JSON and lets a test answer with events, errors, closes and network faults.
// Everything runs on the thread that owns it: tests wait with the wait…() helpers, which spin
// the event loop.
class FakeRealtimeServer : public QObject {
    Q_OBJECT
public:
    enum class Transport { plain, tls };

    explicit FakeRealtimeServer(Transport transport = Transport::plain, QObject* parent = nullptr);
    ~FakeRealtimeServer() override;

    // Starts listening on a free port of 127.0.0.1; later calls reuse that port.
    bool listen();
    // ws(s)://127.0.0.1:<port>/v1/realtime, ready for OV_REALTIME_URL.
    QUrl url() const;
    quint16 port() const { return m_port; }
    // A killed server: every connection dropped without a close frame, new ones refused, until
    // listen() again.
    void kill();

    // How the next upgrade requests are answered.
    void refuseUpgrades(int httpStatus); // answer with this HTTP status; 0 accepts again
    void stallUpgrades(bool stall);      // take the TCP connection and never answer
    // Answers each session.update with session.updated, as the real service does.
    void setAutoConfigure(bool on) { m_autoConfigure = on; }
    // Gives every event sent an event_id of its own, as the real service does.
    void setStampEvents(bool on) { m_stampEvents = on; }

    // Upgrade requests received (accepted or not), and the newest one's details.
    int upgradeRequestCount() const { return m_upgradeRequests; }
    QString requestTarget() const { return m_lastTarget; } // "/v1/realtime?model=…"
    // The newest request's headers, names lower-cased.
    QMap<QByteArray, QByteArray> requestHeaders() const { return m_lastHeaders; }

    // The newest accepted WebSocket connection.
    int connectionCount() const { return m_connectionCount; }
    bool isConnected() const;
    void send(const QJsonObject& event);
    void sendText(const QString& text);
    void sendBinary(const QByteArray& data);
    void sendError(const QString& message);
    void sendSessionCreated();
    void sendSessionUpdated();
    // The events of one question and its answer, as the service words them.
    void sendCommitted(const QString& itemId);
    void sendTranscript(const QString& itemId, const QString& transcript);
    void sendResponseCreated(const QString& responseId);
    void sendDelta(const QString& responseId, const QString& delta);
    void sendResponseDone(const QString& responseId, const QJsonObject& usage = QJsonObject());
    void close(int code, const QString& reason = QString());
    void dropConnection(); // TCP closed at once, no close frame
    void stall();          // stop reading: no more frames are taken in, no pongs go out

    // Every text frame received on any connection, oldest first, without its event_id.
    QList<QJsonObject> frames() const { return m_frames; }
    // The event_id of each of those frames, empty where it had none.
    QStringList eventIds() const { return m_eventIds; }
    QList<QJsonObject> frames(const QString& type) const;
    QStringList frameTypes() const;
    void clearFrames() {
        m_frames.clear();
        m_eventIds.clear();
    }
    // Close code of the newest connection that ended, -1 before any did.
    int lastCloseCode() const { return m_lastCloseCode; }
    int disconnectionCount() const { return m_disconnections; }

    bool waitForConnections(int count, int timeoutMs = 5000);
    bool waitForFrames(const QString& type, int count, int timeoutMs = 5000);
    bool waitForUpgradeRequests(int count, int timeoutMs = 5000);
    bool waitForDisconnections(int count, int timeoutMs = 5000);

    // A client configuration that trusts the TLS server's certificate and nothing else.
    static QSslConfiguration clientSslConfiguration();

signals:
    void upgradeRequested();
    void frameReceived(const QJsonObject& frame);
    void clientConnected();
    void clientDisconnected(int closeCode);

private:
    void onTcpConnection(QTcpSocket* socket);
    void onRequestBytes(QTcpSocket* socket);
    void onWebSocket();

    const Transport m_transport;
    std::unique_ptr<FakeRealtimeListener> m_listener;
    std::unique_ptr<QWebSocketServer> m_upgrader;
    quint16 m_port = 0;
    int m_refuseStatus = 0;
    bool m_stallUpgrades = false;
    bool m_autoConfigure = false;
    bool m_stampEvents = false;
    int m_eventSerial = 0;

    QList<QPointer<QTcpSocket>> m_tcpSockets;
    QPointer<QWebSocket> m_current;
    QPointer<QTcpSocket> m_currentTcp;

    int m_upgradeRequests = 0;
    QString m_lastTarget;
    QMap<QByteArray, QByteArray> m_lastHeaders;
    int m_connectionCount = 0;
    int m_disconnections = 0;
    int m_lastCloseCode = -1;
    QList<QJsonObject> m_frames;
    QStringList m_eventIds;
};
