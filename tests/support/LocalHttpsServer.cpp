#include "support/LocalHttpsServer.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>

namespace {

QByteArray readCertFile(const char* name) {
    QFile file(QStringLiteral(LOCAL_HTTPS_CERT_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QSslCertificate certificate() {
    return QSslCertificate(readCertFile("fake-realtime.crt"), QSsl::Pem);
}

// Starts the server side of the handshake on every connection.
class TlsListener : public QTcpServer {
protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QSslSocket(this);
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(certificate());
        config.setPrivateKey(QSslKey(readCertFile("fake-realtime.key"), QSsl::Ec, QSsl::Pem));
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket->setSslConfiguration(config);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->startServerEncryption();
        addPendingConnection(socket);
    }
};

} // namespace

LocalHttpsServer::LocalHttpsServer(QObject* parent)
    : QObject(parent), m_listener(std::make_unique<TlsListener>()) {
    connect(m_listener.get(), &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_listener->nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    m_listener->listen(QHostAddress::LocalHost);
}

LocalHttpsServer::~LocalHttpsServer() = default;

void LocalHttpsServer::serve(const QString& path, const QByteArray& body, int status) {
    m_answers.insert(path, {status, body});
}

QUrl LocalHttpsServer::url(const QString& path) const {
    return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(m_listener->serverPort()).arg(path));
}

QSslConfiguration LocalHttpsServer::trustedClientConfiguration() {
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificate(certificate());
    return config;
}

void LocalHttpsServer::answer(QTcpSocket* socket) {
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    if (!request.contains("\r\n\r\n"))
        return;
    const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
    const QString path = line.size() > 1 ? QString::fromLatin1(line.at(1)) : QString();
    m_requests[path] += 1;
    const Answer found = m_answers.value(path, {404, QByteArrayLiteral("not here")});
    QByteArray response = QByteArrayLiteral("HTTP/1.1 ") + QByteArray::number(found.status) +
                          (found.status == 200   ? " OK"
                           : found.status == 404 ? " Not Found"
                                                 : " Error");
    response += "\r\nContent-Length: " + QByteArray::number(found.body.size()) +
                "\r\nConnection: close\r\n\r\n" + found.body;
    socket->write(response);
    socket->disconnectFromHost();
}
