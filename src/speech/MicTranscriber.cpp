#include "speech/MicTranscriber.h"

#include "speech/SpeechAvailability.h"

#include <QDebug>

MicTranscriber::MicTranscriber(std::shared_ptr<SpeechEngine> engine, Clock& clock,
                               const QString& locale)
    : m_engine(std::move(engine)), m_clock(clock), m_locale(locale),
      m_recognizerAvailable(m_engine &&
                            m_engine->modelFor(locale) == SpeechEngine::ModelState::installed) {}

MicTranscriber::~MicTranscriber() {
    m_feedSegment.store(0);
    m_worker.reset(); // joins: no event is posted after this
    m_inbox.close();  // drops the events still queued
}

void MicTranscriber::requestAuthorization(std::function<void(const Availability&)> completion) {
    // Linux has no speech permission to ask for; only the model decides.
    const Availability availability =
        m_engine ? speechAvailability(*m_engine, m_locale)
                 : Availability::unsupported(speechUnavailableText(m_locale));
    m_inbox.post([completion = std::move(completion), availability] {
        if (completion)
            completion(availability);
    });
}

void MicTranscriber::begin() {
    if (m_task)
        stopTask(true);
    if (!m_recognizerAvailable)
        return;
    // Made with the first answer to transcribe, and kept: most sessions never transcribe, and
    // the queue holds seconds of audio. The capture thread sees the queue only once the segment
    // stored below tells it to feed one.
    if (!m_worker) {
        m_queue = std::make_unique<MicBlockQueue>();
        m_worker = std::make_unique<RecognitionWorker>(
            m_engine, *m_queue, [this](const RecognitionWorker::Event& event) {
                m_inbox.post([this, event] { receive(event); });
            });
    }
    ++m_segmentID;
    m_appendedFrames.store(0);
    m_latest.clear();
    m_task = true;
    m_worker->beginSegment(m_segmentID);
    m_feedSegment.store(m_segmentID, std::memory_order_release);
}

void MicTranscriber::end() {
    const double rate = m_feedRate.load(std::memory_order_relaxed);
    qInfo("[Corvinel] speech segment ended: %.1fs of audio, %d chars",
          double(m_appendedFrames.load()) / (rate > 0 ? rate : 48000.0), int(m_latest.size()));
    if (!m_task)
        return;
    m_feedSegment.store(0, std::memory_order_release);
    m_worker->endSegment(m_segmentID);
    const int segment = m_segmentID;
    m_fallback = m_clock.schedule(fallbackSeconds, false, [this, segment] { fallback(segment); });
}

void MicTranscriber::fallback(int segment) {
    if (!m_task || m_segmentID != segment)
        return;
    const QString text = m_latest;
    stopTask(true);
    if (!text.isEmpty() && onFinal)
        onFinal(text);
}

void MicTranscriber::stopTask(bool silent) {
    if (silent)
        ++m_segmentID;
    m_feedSegment.store(0, std::memory_order_release);
    if (m_task && m_worker)
        m_worker->cancelSegment();
    m_task = false;
    m_latest.clear();
}

void MicTranscriber::append(const float* samples, int frames, double sampleRate) {
    const int segment = m_feedSegment.load(std::memory_order_acquire);
    if (segment == 0 || !samples || frames <= 0 || !(sampleRate > 0))
        return;
    m_queue->push(segment, sampleRate, samples, frames);
    m_feedRate.store(sampleRate, std::memory_order_relaxed);
    m_appendedFrames.fetch_add(frames, std::memory_order_relaxed);
}

void MicTranscriber::finish(const QString& text) {
    m_task = false;
    if (!text.isEmpty() && onFinal)
        onFinal(text);
}

void MicTranscriber::receive(const RecognitionWorker::Event& event) {
    // Late news of an abandoned or finished segment changes nothing.
    if (event.segment != m_segmentID || !m_task)
        return;
    if (event.kind == RecognitionWorker::Event::Kind::partial) {
        m_latest = event.text;
        if (onPartial)
            onPartial(m_latest);
        return;
    }
    const SpeechOutcome& outcome = event.outcome;
    switch (outcome.kind) {
    case SpeechOutcome::Kind::text:
        m_latest = outcome.text;
        if (onPartial)
            onPartial(m_latest);
        finish(m_latest);
        return;
    case SpeechOutcome::Kind::noSpeech:
    case SpeechOutcome::Kind::cancelled:
        if (!m_latest.isEmpty())
            finish(m_latest);
        else
            m_task = false;
        return;
    case SpeechOutcome::Kind::failed:
        if (!m_latest.isEmpty()) {
            finish(m_latest);
            return;
        }
        m_task = false;
        qWarning("[Corvinel] speech recognition failed: %s", qPrintable(outcome.error));
        if (onFailure)
            onFailure(QStringLiteral("On-device transcription failed: ") + outcome.error);
        return;
    }
}
