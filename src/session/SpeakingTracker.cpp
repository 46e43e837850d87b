#include "session/SpeakingTracker.h"

#include "base/Assign.h"
#include "platform/Platform.h"
#include "session/QAFlow.h"
#include "speech/MicTranscriberInterface.h"

#include <cmath>

SpeakingTracker::SpeakingTracker(Clock& clock, QAFlow& flow, MicTranscriberInterface& transcriber,
                                 SleepInhibitor* inhibitor, Hooks hooks, QObject* parent)
    : QObject(parent), m_clock(clock), m_flow(flow), m_transcriber(transcriber),
      m_inhibitor(inhibitor), m_hooks(std::move(hooks)) {}

SpeakingTracker::~SpeakingTracker() = default;

void SpeakingTracker::trackSpeaking(float micLevel) {
    if (!m_hooks.isSessionActive || !m_hooks.isSessionActive())
        return;
    const double now = m_clock.now();
    if (micLevel >= voiceThreshold) {
        m_lastVoiceAt = now;
        if (!m_isAnswering)
            startAnswerClock(now);
        if (!m_isSpeaking) {
            setSpeaking(true);
            beginMyAnswerSegment();
        } else if (m_hooks.transcribeMyAnswers() && !m_transcriber.hasOpenTask()) {
            // The recognizer closed a segment while the user kept talking.
            beginMyAnswerSegment();
        }
    } else if (m_isSpeaking && m_lastVoiceAt && now - *m_lastVoiceAt >= silenceToEnd) {
        setSpeaking(false);
        if (m_transcriber.hasOpenTask())
            m_transcriber.end();
    }
}

void SpeakingTracker::startAnswerClock(double at) {
    if (m_hooks.hasLog()) {
        const QAPair* newest = m_flow.newest();
        m_hooks.record(QStringLiteral("you_started"),
                       {{QStringLiteral("pair"), newest ? newest->id : QString()}});
    }
    setAnswering(true);
    m_speakingStart = at;
    setLastAnswerDuration(std::nullopt);
    if (m_hooks.showsAnswerTimer && !m_hooks.showsAnswerTimer())
        return;
    m_speakingTimer = m_clock.schedule(0.2, true, [this] {
        if (m_speakingStart)
            setSpeakingElapsed(m_clock.now() - *m_speakingStart);
    });
}

void SpeakingTracker::beginMyAnswerSegment() {
    if (!m_hooks.transcribeMyAnswers())
        return;
    if (m_flow.pairs().isEmpty())
        m_flow.appendPlaceholder();
    QAPair* card = m_flow.newest();
    m_speakingPairID = card->id;
    card->myAnswerInProgress = true;
    m_committedAnswers.insert(card->id, card->myAnswer);
    m_flow.notifyChanged();
    m_transcriber.begin();
}

void SpeakingTracker::updateMyAnswer(const QString& text, bool final) {
    if (!m_speakingPairID)
        return;
    QAPair* card = m_flow.pair(*m_speakingPairID);
    if (!card)
        return;
    const QString committed = m_committedAnswers.value(card->id);
    const QString updated = committed.isEmpty() ? text : committed + u' ' + text;
    card->myAnswer = updated;
    if (final) {
        m_committedAnswers.insert(card->id, updated);
        card->myAnswerInProgress = m_isAnswering;
    }
    m_flow.notifyChanged();
}

void SpeakingTracker::interviewerTookOver() {
    if (!m_isAnswering)
        return;
    if (m_speakingStart)
        setLastAnswerDuration(m_clock.now() - *m_speakingStart);
    endSpeaking();
}

void SpeakingTracker::endSpeaking() {
    if (m_isAnswering && m_speakingStart && m_hooks.hasLog()) {
        const QString pairID = m_speakingPairID.value_or(QString());
        const QString committed = m_committedAnswers.value(pairID);
        const qsizetype words = committed.split(u' ', Qt::SkipEmptyParts).size();
        m_hooks.record(QStringLiteral("you_stopped"),
                       {{QStringLiteral("pair"), pairID},
                        {QStringLiteral("seconds"), roundTo(m_clock.now() - *m_speakingStart, 1)},
                        {QStringLiteral("words"), words},
                        {QStringLiteral("text"), committed}});
    }
    if (m_transcriber.hasOpenTask())
        m_transcriber.end();
    m_speakingTimer.reset();
    if (m_speakingPairID) {
        if (QAPair* card = m_flow.pair(*m_speakingPairID); card && card->myAnswerInProgress) {
            card->myAnswerInProgress = false;
            m_flow.notifyChanged();
        }
    }
    setSpeaking(false);
    setAnswering(false);
    m_speakingStart.reset();
    setSpeakingElapsed(0);
}

void SpeakingTracker::startSessionClock() {
    m_activity.reset();
    if (m_inhibitor)
        m_activity = std::shared_ptr<SleepInhibitor::Token>(
            m_inhibitor->begin(QStringLiteral("Live meeting transcription")));
    m_sessionStart = m_clock.now();
    setSessionElapsed(0);
    m_sessionTimer = m_clock.schedule(1.0, true, [this] {
        if (m_sessionStart)
            setSessionElapsed(m_clock.now() - *m_sessionStart);
    });
}

void SpeakingTracker::stopSessionClock() {
    m_sessionTimer.reset();
    m_sessionStart.reset();
    m_activity.reset();
}

void SpeakingTracker::clearLastAnswerDuration() {
    setLastAnswerDuration(std::nullopt);
}

QString SpeakingTracker::formatClock(double seconds) {
    const auto s = static_cast<long long>(seconds);
    if (s < 3600)
        return QString::asprintf("%02lld:%02lld", (s % 3600) / 60, s % 60);
    return QString::asprintf("%lld:%02lld:%02lld", s / 3600, (s % 3600) / 60, s % 60);
}

QString SpeakingTracker::formatDuration(double seconds) {
    const auto s = static_cast<long long>(std::round(seconds));
    if (s < 60)
        return QString::number(s) + u's';
    return QString::asprintf("%lld:%02lld", s / 60, s % 60);
}

void SpeakingTracker::setSpeaking(bool value) {
    if (assignIfChanged(m_isSpeaking, value))
        emit isSpeakingChanged();
}

void SpeakingTracker::setAnswering(bool value) {
    if (assignIfChanged(m_isAnswering, value))
        emit isAnsweringChanged();
}

void SpeakingTracker::setSpeakingElapsed(double value) {
    if (assignIfChanged(m_speakingElapsed, value))
        emit speakingElapsedChanged();
}

void SpeakingTracker::setLastAnswerDuration(std::optional<double> value) {
    if (assignIfChanged(m_lastAnswerDuration, value))
        emit lastAnswerDurationChanged();
}

void SpeakingTracker::setSessionElapsed(double value) {
    if (assignIfChanged(m_sessionElapsed, value))
        emit sessionElapsedChanged();
}
