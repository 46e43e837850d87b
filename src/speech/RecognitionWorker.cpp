#include "speech/RecognitionWorker.h"

#include "speech/SpeechResampler.h"

#include <chrono>

namespace {
// Interim texts are asked for every 100 ms of audio: the recognizer's text rarely changes faster.
constexpr int kInterimSamples = SpeechEngine::sampleRate / 10;
// The capture thread does not signal the worker (no locks there), so while a segment is fed the
// worker looks this often.
constexpr auto kPollInterval = std::chrono::milliseconds(20);
} // namespace

RecognitionWorker::RecognitionWorker(std::shared_ptr<SpeechEngine> engine, MicBlockQueue& queue,
                                     std::function<void(const Event&)> deliver)
    : m_engine(std::move(engine)), m_queue(queue), m_deliver(std::move(deliver)) {
    m_thread = std::thread([this] { run(); });
}

RecognitionWorker::~RecognitionWorker() {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void RecognitionWorker::beginSegment(int segment) {
    post({Command::Kind::begin, segment});
}

void RecognitionWorker::endSegment(int segment) {
    post({Command::Kind::end, segment});
}

void RecognitionWorker::cancelSegment() {
    post({Command::Kind::cancel, 0});
}

void RecognitionWorker::post(Command command) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_commands.push_back(command);
    }
    m_wake.notify_one();
}

void RecognitionWorker::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        const auto commanded = [this] { return m_stopping || !m_commands.empty(); };
        // Between segments no audio is fed (what is queued then is dropped): only a command
        // brings work, so the worker sleeps through the time between the user's answers.
        if (m_current != 0)
            m_wake.wait_for(lock, kPollInterval, commanded);
        else
            m_wake.wait(lock, commanded);
        if (m_stopping)
            break;
        std::deque<Command> commands;
        commands.swap(m_commands);
        lock.unlock();
        for (const Command& command : commands) {
            drainQueue();
            handle(command);
        }
        drainQueue();
        lock.lock();
    }
    lock.unlock();
    if (m_stream)
        m_stream->cancel();
}

bool RecognitionWorker::ensureStream(int segment) {
    if (m_stream)
        return true;
    SpeechEngine::Created created = m_engine->createStream(SpeechEngine::Mode::live);
    if (!created.stream) {
        m_deliver({Event::Kind::outcome, segment, {}, SpeechOutcome::failed(created.error)});
        return false;
    }
    m_stream = std::move(created.stream);
    return true;
}

void RecognitionWorker::handle(const Command& command) {
    switch (command.kind) {
    case Command::Kind::begin: {
        if (m_current != 0)
            m_stream->cancel();
        m_current = 0;
        m_lastBegun = std::max(m_lastBegun, command.segment);
        if (!ensureStream(command.segment))
            return;
        if (std::optional<SpeechOutcome> refused = m_stream->begin()) {
            m_deliver({Event::Kind::outcome, command.segment, {}, *refused});
            return;
        }
        m_current = command.segment;
        if (m_resampler) {
            m_converted.clear();
            m_resampler->flush(m_converted); // forget the previous segment's tail
        }
        m_samplesSinceInterim = 0;
        m_lastInterim.clear();
        return;
    }
    case Command::Kind::end: {
        if (m_current == 0 || m_current != command.segment)
            return;
        if (m_resampler) {
            m_converted.clear();
            m_resampler->flush(m_converted);
            feed(m_converted);
        }
        const SpeechOutcome outcome = m_stream->finish();
        m_current = 0;
        m_deliver({Event::Kind::outcome, command.segment, {}, outcome});
        return;
    }
    case Command::Kind::cancel:
        if (m_current != 0)
            m_stream->cancel();
        m_current = 0;
        return;
    }
}

void RecognitionWorker::drainQueue() {
    while (const MicBlockQueue::Slot* slot = m_queue.front()) {
        // Audio of a segment whose opening command is still waiting stays queued for it.
        if (slot->segment > m_lastBegun)
            return;
        if (m_current != 0 && slot->segment == m_current) {
            if (!m_resampler || m_resampler->inputRate() != slot->sampleRate)
                m_resampler = std::make_unique<SpeechResampler>(slot->sampleRate,
                                                                double(SpeechEngine::sampleRate));
            m_converted.clear();
            m_resampler->process(slot->samples, slot->frames, m_converted);
            feed(m_converted);
        }
        m_queue.pop();
    }
}

void RecognitionWorker::feed(const std::vector<int16_t>& samples) {
    if (samples.empty() || m_current == 0)
        return;
    m_stream->feed(samples.data(), int(samples.size()));
    m_samplesSinceInterim += int(samples.size());
    if (m_samplesSinceInterim < kInterimSamples)
        return;
    m_samplesSinceInterim = 0;
    const QString text = m_stream->interim();
    if (!text.isEmpty() && text != m_lastInterim) {
        m_lastInterim = text;
        m_deliver({Event::Kind::partial, m_current, text, {}});
    }
}
