#include "realtime/RealtimeClient.h"

#include "realtime/RealtimeConnection.h"

#include <QCoreApplication>
#include <QPointer>
#include <atomic>

// Lives on the creating thread; notifications queued to it run there, one by one, in order.
// The client clears `client` when it goes, so a notification still queued does nothing.
// Every start() and stop() numbers a new run; a notification carries the run the connection
// was in when it posted, and one of an earlier run is dropped: the main thread may be busy
// long enough for a whole answer to queue up behind a Stop.
class RealtimeCallbackRelay : public QObject {
public:
    explicit RealtimeCallbackRelay(RealtimeClientInterface* owner) : client(owner) {}
    RealtimeClientInterface* client;
    std::atomic<quint64> currentRun{0}; // the caller's newest start() or stop()
    std::atomic<quint64> postingRun{0}; // the one the connection has taken up
};

RealtimeClient::RealtimeClient() : RealtimeClient(Options{}) {}

RealtimeClient::RealtimeClient(Options options) : m_relay(new RealtimeCallbackRelay(this)) {
    m_thread.setObjectName(QStringLiteral("corvinel.realtime"));
    RealtimeCallbackRelay* relay = m_relay;
    auto post = [relay](RealtimeConnection::Notification notification) {
        QMetaObject::invokeMethod(
            relay,
            [relay, run = relay->postingRun.load(), notification = std::move(notification)] {
                if (relay->client && run == relay->currentRun.load())
                    notification(*relay->client);
            },
            Qt::QueuedConnection);
    };
    m_connection =
        new RealtimeConnection(options.timing, std::move(options.sslConfiguration), post);
    m_connection->moveToThread(&m_thread);
    m_thread.start();
}

RealtimeClient::~RealtimeClient() {
    // The connection is deleted on its own thread, where its socket and timers live; the thread
    // ends right after, so nothing can post once wait() returns.
    QMetaObject::invokeMethod(
        m_connection,
        [connection = m_connection] {
            delete connection;
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    m_thread.wait();
    m_relay->client = nullptr;
    QCoreApplication::removePostedEvents(m_relay);
    // A callback running right now may be the one destroying us: delete the relay afterwards.
    m_relay->deleteLater();
}

void RealtimeClient::enqueue(std::function<void()> work) {
    QMetaObject::invokeMethod(m_connection, std::move(work), Qt::QueuedConnection);
}

void RealtimeClient::start(const Config& config) {
    const quint64 run = ++m_relay->currentRun;
    enqueue([c = m_connection, relay = m_relay, run, config] {
        relay->postingRun = run;
        c->start(config);
    });
}

void RealtimeClient::stop() {
    const quint64 run = ++m_relay->currentRun;
    enqueue([c = m_connection, relay = m_relay, run] {
        relay->postingRun = run;
        c->stop();
    });
}

void RealtimeClient::append(const QByteArray& pcm16) {
    enqueue([c = m_connection, pcm16] { c->append(pcm16); });
}

void RealtimeClient::updateHistory(const QList<HistoryPair>& pairs) {
    enqueue([c = m_connection, pairs] { c->updateHistory(pairs); });
}

void RealtimeClient::updateInstructions(const QString& instructions) {
    enqueue([c = m_connection, instructions] { c->updateInstructions(instructions); });
}

void RealtimeClient::regenerate(const QString& question) {
    enqueue([c = m_connection, question] { c->regenerate(question); });
}
