#pragma once

#include "base/MainThreadInbox.h"
#include "realtime/RealtimeClientInterface.h"
#include "realtime/RealtimeTiming.h"

#include <QSslConfiguration>
#include <QThread>
#include <atomic>
#include <functional>
#include <optional>

class RealtimeConnection;

// The WebSocket client for the OpenAI Realtime API. Its socket and state live on a thread of
// its own; every operation is queued there and returns at once, so append() may be called from
// a capture thread. Callbacks arrive on the main thread, in order, and never after it is
// destroyed.
class RealtimeClient : public RealtimeClientInterface {
public:
    struct Options {
        RealtimeTiming timing;
        // Replaces the TLS configuration of every socket (tests trust their own certificate).
        std::optional<QSslConfiguration> sslConfiguration;
    };

    RealtimeClient();
    explicit RealtimeClient(Options options);
    ~RealtimeClient() override;
    RealtimeClient(const RealtimeClient&) = delete;
    RealtimeClient& operator=(const RealtimeClient&) = delete;

    void start(const Config& config) override;
    void stop() override;
    void append(const QByteArray& pcm16) override;
    void updateHistory(const QList<HistoryPair>& pairs) override;
    void updateInstructions(const QString& instructions) override;
    void regenerate(const QString& cardID, const QString& question,
                    const QByteArray& image = QByteArray()) override;
    void cancelResponse(const QString& responseID) override;
    void skipTurn(const QString& itemID) override;

private:
    void enqueue(std::function<void()> work);
    // On the connection's thread: hands it every block appended so far, oldest first.
    void takeAudio();

    // Notifications reach the owner on the creating thread, in order. Every start() and
    // stop() numbers a new run; a notification carries the run the connection was in when it
    // posted, and one of an earlier run is dropped: the main thread may be busy long enough
    // for a whole answer to queue up behind a Stop.
    MainThreadInbox m_inbox;
    std::atomic<quint64> m_currentRun{0}; // the caller's newest start() or stop()
    std::atomic<quint64> m_postingRun{0}; // the one the connection has taken up
    QThread m_thread;
    RealtimeConnection* m_connection = nullptr;

    // The capture delivers a block every 20 ms or so, and a queued call for each would wake
    // the connection's thread that often, for a message it sends every 100 ms. So append()
    // pushes its block onto a lock-free stack and queues a call only once the blocks waiting
    // make up what the connection still needs for its next message; until then they wait here
    // rather than in the connection. Every other call takes them first, so no audio appended
    // before a call reaches the connection after it.
    struct AudioBlock {
        QByteArray pcm16;
        AudioBlock* next;
    };
    std::atomic<AudioBlock*> m_audio{nullptr}; // newest first
    std::atomic<qsizetype> m_audioBytes{0};    // counted before a block is pushed
    std::atomic<qsizetype> m_audioWanted;      // a message's worth, less what the connection holds
    // Taken blocks, emptied on the connection's thread, for append() to reuse: a capture thread
    // then allocates no node once a few messages have gone. append() takes the whole list with
    // one exchange (a pop of one node would be open to ABA with several producers) and gives
    // back what it did not use.
    AudioBlock* spareBlock();
    void keepSpare(AudioBlock* block);
    std::atomic<AudioBlock*> m_spare{nullptr};
    std::atomic<int> m_spareCount{0}; // about how many m_spare holds, to keep it small
};
