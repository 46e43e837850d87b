#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QUrl>
#include <memory>

class QSslConfiguration;
class QTcpServer;
class QTcpSocket;

// A small HTTPS server on 127.0.0.1 with the test certificate (tests/support/certs): each path
// answers with the status and body it was given, anything else with 404. One request per
// connection. Clients trust it through trustedClientConfiguration().
class LocalHttpsServer : public QObject {
    Q_OBJECT
public:
    explicit LocalHttpsServer(QObject* parent = nullptr);
    ~LocalHttpsServer() override;

    void serve(const QString& path, const QByteArray& body, int status = 200);
    QUrl url(const QString& path) const;
    int requestCount(const QString& path) const { return m_requests.value(path); }

    // The default TLS configuration with the test certificate trusted: set it as the default
    // (QSslConfiguration::setDefaultConfiguration) so every request in the process accepts it.
    static QSslConfiguration trustedClientConfiguration();

private:
    struct Answer {
        int status;
        QByteArray body;
    };
    void answer(QTcpSocket* socket);

    std::unique_ptr<QTcpServer> m_listener;
    QHash<QString, Answer> m_answers;
    QHash<QString, int> m_requests;
};
