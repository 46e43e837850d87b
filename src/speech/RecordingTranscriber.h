#pragma once

#include "base/Clock.h"
#include "speech/RecordingTranscriberInterface.h"
#include "speech/SpeechEngine.h"

#include <memory>

// Transcribes a saved stereo recording (left = you, right = the meeting) in 45-second chunks on
// a background thread and writes a markdown transcript beside it.
class RecordingTranscriber final : public RecordingTranscriberInterface {
public:
    struct Options {
        double chunkSeconds = 45.0;
        // A buffer still unrecognised after this long contributes nothing.
        double bufferLimitSeconds = 120.0;
        // Read on the worker thread; tests move time by hand.
        const Clock* clock = &systemClock();
    };

    RecordingTranscriber(std::shared_ptr<SpeechEngine> engine, const QString& locale);
    RecordingTranscriber(std::shared_ptr<SpeechEngine> engine, const QString& locale,
                         Options options);

    void transcribe(const QString& wavPath, std::function<void(double done, double total)> progress,
                    std::function<void(const Result& result)> completion) override;

    // The work of one run, on the calling thread; `progress` is called on that thread too.
    Result run(const QString& wavPath, const std::function<void(double, double)>& progress) const;

private:
    QString recognize(SpeechStream& stream, const std::vector<float>& mono,
                      double sampleRate) const;

    std::shared_ptr<SpeechEngine> m_engine;
    QString m_locale;
    Options m_options;
};
