#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

// How one utterance of a recognition stream ended.
struct SpeechOutcome {
    enum class Kind { text, noSpeech, cancelled, failed };
    Kind kind = Kind::noSpeech;
    QString text;  // for text
    QString error; // for failed: a user-facing description

    static SpeechOutcome recognized(const QString& t) { return {Kind::text, t, {}}; }
    static SpeechOutcome noSpeech() { return {Kind::noSpeech, {}, {}}; }
    static SpeechOutcome cancelled() { return {Kind::cancelled, {}, {}}; }
    static SpeechOutcome failed(const QString& why) { return {Kind::failed, {}, why}; }
};

// One recognizer kept alive across utterances; used from one thread at a time.
class SpeechStream {
public:
    virtual ~SpeechStream() = default;
    // Opens an utterance; on failure the outcome says why.
    virtual std::optional<SpeechOutcome> begin() = 0;
    // Mono 16 kHz signed 16-bit samples of the open utterance.
    virtual void feed(const int16_t* samples, int count) = 0;
    // The best text of the open utterance so far; empty when nothing was heard yet.
    virtual QString interim() = 0;
    // Closes the utterance and returns its final outcome.
    virtual SpeechOutcome finish() = 0;
    // Abandons the open utterance, if any.
    virtual void cancel() = 0;
};

// An on-device recognizer. Thread-safe: streams may be created from any thread.
class SpeechEngine {
public:
    static constexpr int sampleRate = 16000;

    enum class ModelState { installed, notInstalled, unsupportedLanguage };
    // live: quick interim texts and early finals; batch: best accuracy for finished audio.
    enum class Mode { live, batch };

    struct Created {
        std::unique_ptr<SpeechStream> stream;
        QString error; // when stream is null
    };

    virtual ~SpeechEngine() = default;
    // Whether a model for the locale (for example "en_GB") is installed here.
    virtual ModelState modelFor(const QString& locale) const = 0;
    // Slow (loads a model) and large; call off the main thread and keep the stream.
    virtual Created createStream(Mode mode) = 0;
};
