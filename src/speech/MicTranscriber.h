#pragma once

#include "base/Clock.h"
#include "base/MainThreadInbox.h"
#include "speech/MicBlockQueue.h"
#include "speech/MicTranscriberInterface.h"
#include "speech/RecognitionWorker.h"
#include "speech/SpeechEngine.h"

#include <atomic>
#include <memory>

// Transcribes the user's answers on the device, one segment per answer. Everything but
// append() runs on the main thread; the recognizer runs on a worker thread.
class MicTranscriber final : public MicTranscriberInterface {
public:
    static constexpr double fallbackSeconds = 3.0;

    MicTranscriber(std::shared_ptr<SpeechEngine> engine, Clock& clock, const QString& locale);
    ~MicTranscriber() override;

    void requestAuthorization(std::function<void(const Availability&)> completion) override;
    void begin() override;
    void end() override;
    void stopTask(bool silent) override;
    // Lock-free and allocation-free; called from one capture thread at a time.
    void append(const float* samples, int frames, double sampleRate) override;
    bool hasOpenTask() const override { return m_task; }

    int segmentID() const { return m_segmentID; }
    long long appendedFrames() const { return m_appendedFrames.load(std::memory_order_relaxed); }

private:
    void receive(const RecognitionWorker::Event& event);
    void finish(const QString& text);
    void fallback(int segment);

    std::shared_ptr<SpeechEngine> m_engine;
    Clock& m_clock;
    QString m_locale;
    bool m_recognizerAvailable;

    // Main thread.
    bool m_task = false;
    QString m_latest;
    int m_segmentID = 0;

    // Shared with the capture thread: the segment that accepts audio (0 for none).
    std::atomic<int> m_feedSegment{0};
    std::atomic<long long> m_appendedFrames{0};
    std::atomic<double> m_feedRate{48000.0};

    // Worker events cross to the main thread through it; pending ones are dropped with it.
    MainThreadInbox m_inbox;
    // The last ended segment's fallback; goes with the transcriber.
    std::unique_ptr<Clock::Timer> m_fallback;
    std::unique_ptr<MicBlockQueue> m_queue;
    std::unique_ptr<RecognitionWorker> m_worker;
};
