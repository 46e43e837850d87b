#pragma once

#include "app/demo/DemoScript.h"
#include "realtime/RealtimeClientInterface.h"

#include <QObject>
#include <QTimer>

// A model client that plays the demo interview instead of talking to a server: it connects,
// then for each turn lets the interviewer talk, sends the question's transcription, announces
// the response and streams the answer a word at a time, with usage and the end of the response.
// Everything runs on the main thread from one timer, so nothing arrives once the client is gone or
// stopped.
class ScriptedRealtimeClient : public QObject, public RealtimeClientInterface {
    Q_OBJECT
public:
    explicit ScriptedRealtimeClient(QList<DemoScript::Turn> turns, double speed,
                                    QObject* parent = nullptr);

    void start(const Config& config) override;
    void stop() override;
    void append(const QByteArray&) override {}
    void updateHistory(const QList<HistoryPair>&) override {}
    void updateInstructions(const QString&) override {}
    // The script already holds the answer to each follow-up; it streams once the merged
    // question is in, as the answer asked for, not as one to the follow-up's own audio.
    void regenerate(const QString& cardID, const QString&, const QByteArray& = {}) override;
    void cancelResponse(const QString&) override {}
    void skipTurn(const QString&) override {}

    // The interviewer talks for this many seconds (the meeting meter moves).
    std::function<void(double seconds)> onInterviewerSpeaks;
    // The candidate talks for this many seconds and says `text` (the microphone meter moves).
    std::function<void(double seconds, const QString& text)> onCandidateSpeaks;
    // The candidate types a question, or asks for a rewrite of the newest answer.
    std::function<void(const QString& text)> onUserAsks;
    std::function<void(const QString& style)> onUserRewrites;
    std::function<void()> onUserAsksAboutScreen;
    // A named moment of the script (see DemoScript::Turn), and "end" after the last turn.
    std::function<void(const QString& name)> onMark;

private:
    struct Step {
        int delayMs;
        std::function<void()> action;
        // A response the user asked for: like the service, the script answers only once the
        // request is in (a look at the screen takes the picture first, however long).
        bool awaitsRequest = false;
    };
    void planTurn(int index, const DemoScript::Turn& turn);
    void planQuestion(const QString& item, const DemoScript::Turn& turn);
    void after(double seconds, std::function<void()> action);
    void afterMs(int ms, std::function<void()> action);
    void mark(const QString& name);
    void runNext();

    QList<DemoScript::Turn> m_turns;
    double m_speed;
    QList<Step> m_steps;
    qsizetype m_next = 0;
    QTimer m_timer;
    QString m_regeneratingCard;
    bool m_awaitingRequest = false;
};
