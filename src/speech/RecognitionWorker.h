#pragma once

#include "speech/MicBlockQueue.h"
#include "speech/SpeechEngine.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class SpeechResampler;

// Runs the recognizer on a thread of its own: takes microphone blocks from the queue, converts
// them to 16 kHz and feeds the open segment; reports interim texts and each segment's outcome.
class RecognitionWorker {
public:
    struct Event {
        enum class Kind { partial, outcome };
        Kind kind = Kind::partial;
        int segment = 0;
        QString text;          // for partial
        SpeechOutcome outcome; // for outcome
    };

    // `deliver` runs on the worker thread. The stream is created on first use and kept.
    RecognitionWorker(std::shared_ptr<SpeechEngine> engine, MicBlockQueue& queue,
                      std::function<void(const Event&)> deliver);
    ~RecognitionWorker();
    RecognitionWorker(const RecognitionWorker&) = delete;
    RecognitionWorker& operator=(const RecognitionWorker&) = delete;

    // Commands are carried out in order; audio queued before a command is handled before it.
    void beginSegment(int segment);
    void endSegment(int segment);
    void cancelSegment();

private:
    struct Command {
        enum class Kind { begin, end, cancel };
        Kind kind;
        int segment;
    };

    void post(Command command);
    void run();
    void handle(const Command& command);
    void drainQueue();
    void feed(const std::vector<int16_t>& samples);
    bool ensureStream(int segment);

    std::shared_ptr<SpeechEngine> m_engine;
    MicBlockQueue& m_queue;
    std::function<void(const Event&)> m_deliver;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Command> m_commands;
    bool m_stopping = false;

    // Worker thread only.
    std::unique_ptr<SpeechStream> m_stream;
    std::unique_ptr<SpeechResampler> m_resampler;
    std::vector<int16_t> m_converted;
    int m_current = 0;   // the segment being fed, 0 for none
    int m_lastBegun = 0; // the newest segment whose opening was handled
    int m_samplesSinceInterim = 0;
    QString m_lastInterim;

    std::thread m_thread;
};
