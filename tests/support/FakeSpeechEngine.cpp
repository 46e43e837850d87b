#include "support/FakeSpeechEngine.h"

#include <cstdlib>

class FakeSpeechStream final : public SpeechStream {
public:
    explicit FakeSpeechStream(FakeSpeechEngine& engine) : m_engine(engine) {}

    std::optional<SpeechOutcome> begin() override {
        std::lock_guard<std::mutex> guard(m_engine.m_mutex);
        ++m_engine.m_counts.begins;
        m_peak = 0;
        m_open = true;
        return std::nullopt;
    }
    void feed(const int16_t* samples, int count) override {
        std::lock_guard<std::mutex> guard(m_engine.m_mutex);
        m_engine.m_counts.samplesFed += count;
        if (m_engine.m_script.clock)
            m_engine.m_script.clock->advance(m_engine.m_script.secondsPerFeed);
        for (int i = 0; i < count; ++i)
            m_peak = std::max(m_peak, std::abs(int(samples[i])));
    }
    QString interim() override {
        std::lock_guard<std::mutex> guard(m_engine.m_mutex);
        return m_engine.m_script.interim;
    }
    SpeechOutcome finish() override {
        std::unique_lock<std::mutex> lock(m_engine.m_mutex);
        m_open = false;
        ++m_engine.m_counts.finishes;
        m_engine.m_waiting = true;
        m_engine.m_released.wait(lock, [this] { return !m_engine.m_hold; });
        m_engine.m_waiting = false;
        const FakeSpeechEngine::Script& script = m_engine.m_script;
        if (!script.loudText.isEmpty())
            return m_peak > 1000 ? SpeechOutcome::recognized(script.loudText)
                                 : SpeechOutcome::noSpeech();
        return script.outcome;
    }
    void cancel() override {
        std::lock_guard<std::mutex> guard(m_engine.m_mutex);
        if (m_open)
            ++m_engine.m_counts.cancels;
        m_open = false;
    }

private:
    FakeSpeechEngine& m_engine;
    int m_peak = 0;
    bool m_open = false;
};

SpeechEngine::ModelState FakeSpeechEngine::modelFor(const QString&) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_script.modelState;
}

SpeechEngine::Created FakeSpeechEngine::createStream(Mode mode) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_modes.append(mode);
    if (!m_script.createError.isEmpty())
        return {nullptr, m_script.createError};
    ++m_counts.streamsCreated;
    return {std::make_unique<FakeSpeechStream>(*this), {}};
}

void FakeSpeechEngine::setScript(const Script& script) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_script = script;
}

FakeSpeechEngine::Script FakeSpeechEngine::script() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_script;
}

FakeSpeechEngine::Counts FakeSpeechEngine::counts() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_counts;
}

QList<SpeechEngine::Mode> FakeSpeechEngine::modes() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_modes;
}

void FakeSpeechEngine::holdFinish() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_hold = true;
}

void FakeSpeechEngine::releaseFinish() {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_hold = false;
    }
    m_released.notify_all();
}

bool FakeSpeechEngine::finishWaiting() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_waiting;
}
