#pragma once

#include "base/Clock.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <optional>

class MicTranscriberInterface;
class QAFlow;
class SleepInhibitor;

// Watches the microphone level to know when the user answers: the speaking state with its
// hang-over, the answer timer, the "My answer" segments of the on-device transcriber, and the
// session clock.
class SpeakingTracker : public QObject {
    Q_OBJECT
public:
    static constexpr float voiceThreshold = 0.045f;
    static constexpr double silenceToEnd = 2.0;

    struct Hooks {
        std::function<bool()> isSessionActive;
        std::function<bool()> transcribeMyAnswers;
        // Records go to the session log when one is open; `hasLog` tells whether one is.
        std::function<bool()> hasLog;
        std::function<void(const QString& event, const QJsonObject& fields)> record;
        // Whether anything shows the answer timer: where nothing does, `speakingElapsed` is
        // not refreshed, and the program is not woken five times a second for it.
        std::function<bool()> showsAnswerTimer;
    };

    SpeakingTracker(Clock& clock, QAFlow& flow, MicTranscriberInterface& transcriber,
                    SleepInhibitor* inhibitor, Hooks hooks, QObject* parent = nullptr);
    ~SpeakingTracker() override;

    void trackSpeaking(float micLevel);
    void updateMyAnswer(const QString& text, bool final);
    void interviewerTookOver();
    void endSpeaking();
    void startSessionClock();
    void stopSessionClock();
    // Stop forgets which card the transcriber was filling.
    void clearSpeakingPair() { m_speakingPairID.reset(); }
    // The feed was cleared: no card's spoken answer is kept.
    void forgetCommittedAnswers() { m_committedAnswers.clear(); }

    bool isSpeaking() const { return m_isSpeaking; }
    bool isAnswering() const { return m_isAnswering; }
    double speakingElapsed() const { return m_speakingElapsed; }
    std::optional<double> lastAnswerDuration() const { return m_lastAnswerDuration; }
    void clearLastAnswerDuration();
    double sessionElapsed() const { return m_sessionElapsed; }

    // "05:07", "1:02:05": fraction dropped.
    static QString formatClock(double seconds);
    // "42s", "1:00": rounded, halves away from zero.
    static QString formatDuration(double seconds);

signals:
    void isSpeakingChanged();
    void isAnsweringChanged();
    void speakingElapsedChanged();
    void lastAnswerDurationChanged();
    void sessionElapsedChanged();

private:
    void startAnswerClock(double at);
    void beginMyAnswerSegment();
    void setSpeaking(bool value);
    void setAnswering(bool value);
    void setSpeakingElapsed(double value);
    void setLastAnswerDuration(std::optional<double> value);
    void setSessionElapsed(double value);

    Clock& m_clock;
    QAFlow& m_flow;
    MicTranscriberInterface& m_transcriber;
    SleepInhibitor* m_inhibitor;
    Hooks m_hooks;

    bool m_isSpeaking = false;
    bool m_isAnswering = false;
    double m_speakingElapsed = 0;
    std::optional<double> m_lastAnswerDuration;
    double m_sessionElapsed = 0;
    std::optional<double> m_speakingStart;
    std::optional<double> m_lastVoiceAt;
    std::optional<double> m_sessionStart;
    std::optional<QString> m_speakingPairID;
    QHash<QString, QString> m_committedAnswers;
    std::unique_ptr<Clock::Timer> m_speakingTimer;
    std::unique_ptr<Clock::Timer> m_sessionTimer;
    std::shared_ptr<void> m_activity;
};
