#pragma once

#include "speech/SpeechEngine.h"
#include "support/FakeClock.h"

#include <condition_variable>
#include <mutex>
#include <vector>

// A scriptable recognizer. Streams run on whatever thread uses them; every field is read and
// written under the engine's lock through the accessors.
class FakeSpeechEngine final : public SpeechEngine {
public:
    struct Script {
        ModelState modelState = ModelState::installed;
        QString createError;                               // non-empty: createStream fails with it
        QString interim;                                   // what interim() answers
        SpeechOutcome outcome = SpeechOutcome::noSpeech(); // what finish() answers
        QString loudText;          // non-empty: finish() answers it when a fed sample exceeded 1000
        double secondsPerFeed = 0; // moves `clock` on at every feed
        FakeClock* clock = nullptr;
    };
    struct Counts {
        int streamsCreated = 0;
        int begins = 0;
        int finishes = 0;
        int cancels = 0;
        long long samplesFed = 0;
    };

    ModelState modelFor(const QString& locale) const override;
    Created createStream(Mode mode) override;

    void setScript(const Script& script);
    Script script() const;
    Counts counts() const;
    QList<Mode> modes() const;

    // While held, finish() waits (after saying so) until released.
    void holdFinish();
    void releaseFinish();
    bool finishWaiting() const;

private:
    friend class FakeSpeechStream;
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    Script m_script;
    Counts m_counts;
    QList<Mode> m_modes;
    bool m_hold = false;
    bool m_waiting = false;
};
