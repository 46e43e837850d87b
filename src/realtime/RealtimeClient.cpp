#include "realtime/RealtimeClient.h"

#include "realtime/RealtimeConnection.h"

#include <algorithm>
#include <utility>

RealtimeClient::RealtimeClient() : RealtimeClient(Options{}) {}

RealtimeClient::RealtimeClient(Options options) : m_audioWanted(RealtimeConnection::chunkBytes) {
    m_thread.setObjectName(QStringLiteral("corvinel.realtime"));
    auto post = [this](RealtimeConnection::Notification notification) {
        m_inbox.post([this, run = m_postingRun.load(), notification = std::move(notification)] {
            if (run == m_currentRun.load())
                notification(*this);
        });
    };
    m_connection =
        new RealtimeConnection(options.timing, std::move(options.sslConfiguration), post);
    m_connection->moveToThread(&m_thread);
    m_thread.start();
}

RealtimeClient::~RealtimeClient() {
    // Nothing still queued reaches the owner, nor anything the connection posts while it goes.
    // A callback running right now may be the one destroying us: it holds only the inbox's
    // flag, not the client.
    m_inbox.close();
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
    for (std::atomic<AudioBlock*>* list : {&m_audio, &m_spare})
        for (AudioBlock* block = list->exchange(nullptr); block;)
            delete std::exchange(block, block->next);
}

namespace {
// More than a message's worth of 20 ms blocks, with room for a late turn of the connection.
constexpr int kMaxSpareBlocks = 16;

template <typename Block> void pushChain(std::atomic<Block*>& list, Block* first, Block* last) {
    last->next = list.load(std::memory_order_relaxed);
    while (!list.compare_exchange_weak(last->next, first, std::memory_order_release,
                                       std::memory_order_relaxed)) {
    }
}
} // namespace

RealtimeClient::AudioBlock* RealtimeClient::spareBlock() {
    AudioBlock* block = m_spare.exchange(nullptr, std::memory_order_acquire);
    if (!block)
        return new AudioBlock{{}, nullptr};
    m_spareCount.fetch_sub(1, std::memory_order_relaxed);
    if (AudioBlock* rest = block->next) {
        AudioBlock* last = rest;
        while (last->next)
            last = last->next;
        pushChain(m_spare, rest, last);
    }
    return block;
}

// A block already emptied, on the connection's thread.
void RealtimeClient::keepSpare(AudioBlock* block) {
    if (m_spareCount.load(std::memory_order_relaxed) >= kMaxSpareBlocks) {
        delete block;
        return;
    }
    m_spareCount.fetch_add(1, std::memory_order_relaxed);
    pushChain(m_spare, block, block);
}

void RealtimeClient::enqueue(std::function<void()> work) {
    QMetaObject::invokeMethod(
        m_connection,
        [this, work = std::move(work)] {
            takeAudio();
            work();
        },
        Qt::QueuedConnection);
}

void RealtimeClient::takeAudio() {
    AudioBlock* ordered = nullptr;
    for (AudioBlock* block = m_audio.exchange(nullptr, std::memory_order_acquire); block;) {
        AudioBlock* const next = block->next;
        block->next = ordered;
        ordered = block;
        block = next;
    }
    qsizetype taken = 0;
    while (ordered) {
        // Kept for reuse before the send, so a block is ready again once its message has gone.
        // Its bytes are moved out first, to be freed on this thread, not on a capture thread.
        const QByteArray pcm16 = std::move(ordered->pcm16);
        keepSpare(std::exchange(ordered, ordered->next));
        m_connection->append(pcm16);
        taken += pcm16.size();
    }
    m_audioBytes.fetch_sub(taken);
    m_audioWanted.store(
        std::max<qsizetype>(1, RealtimeConnection::chunkBytes - m_connection->pendingBytes()));
    // A block counted but not pushed yet, or a need now smaller than what waits: look again.
    if (m_audioBytes.load() >= m_audioWanted.load())
        QMetaObject::invokeMethod(
            m_connection, [this] { takeAudio(); }, Qt::QueuedConnection);
}

void RealtimeClient::start(const Config& config) {
    const quint64 run = ++m_currentRun;
    enqueue([this, c = m_connection, run, config] {
        m_postingRun = run;
        c->start(config);
    });
}

void RealtimeClient::stop() {
    const quint64 run = ++m_currentRun;
    enqueue([this, c = m_connection, run] {
        m_postingRun = run;
        c->stop();
    });
}

void RealtimeClient::append(const QByteArray& pcm16) {
    // Counted first: the count is never below what the stack holds.
    const qsizetype before = m_audioBytes.fetch_add(pcm16.size());
    AudioBlock* block = spareBlock();
    block->pcm16 = pcm16;
    pushChain(m_audio, block, block);
    const qsizetype wanted = m_audioWanted.load();
    if (before < wanted && before + pcm16.size() >= wanted)
        QMetaObject::invokeMethod(
            m_connection, [this] { takeAudio(); }, Qt::QueuedConnection);
}

void RealtimeClient::updateHistory(const QList<HistoryPair>& pairs) {
    enqueue([c = m_connection, pairs] { c->updateHistory(pairs); });
}

void RealtimeClient::updateInstructions(const QString& instructions) {
    enqueue([c = m_connection, instructions] { c->updateInstructions(instructions); });
}

void RealtimeClient::regenerate(const QString& cardID, const QString& question,
                                const QByteArray& image) {
    enqueue(
        [c = m_connection, cardID, question, image] { c->regenerate(cardID, question, image); });
}

void RealtimeClient::cancelResponse(const QString& responseID) {
    enqueue([c = m_connection, responseID] { c->cancelResponse(responseID); });
}

void RealtimeClient::skipTurn(const QString& itemID) {
    enqueue([c = m_connection, itemID] { c->skipTurn(itemID); });
}
