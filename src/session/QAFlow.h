#pragma once

#include "realtime/RealtimeClientInterface.h"
#include "session/QAPair.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <functional>

class Clock;

// Turns the model's transcriptions and answer deltas into cards: follow-up merging, routing of
// deltas by response id, superseded answers, clean-up of empty cards and the history hand-off.
class QAFlow {
public:
    struct Hooks {
        std::function<bool()> isSpeaking;
        std::function<void()> interviewerTookOver;
        std::function<void(const QString& event, const QJsonObject& fields)> record;
        std::function<void(const QString& cardID, const QString& question)> regenerate;
        std::function<void(const QString& responseID)> cancelResponse;
        std::function<void(const QString& itemID)> skipTurn;
        std::function<void(const QList<RealtimeClientInterface::HistoryPair>& pairs)> updateHistory;
        std::function<void()> pairsChanged;
        // A card's answer has ended, before it is logged and handed on as history.
        std::function<void(QAPair& card)> answerFinished;
    };

    // `followUpWindow` is read at every transcription, so a changed setting applies at once.
    QAFlow(const Clock& clock, std::function<double()> followUpWindow, Hooks hooks);

    // `itemID` names the audio the text was heard in; empty when the service did not say.
    void ingestTranscript(const QString& text, const QString& itemID = QString());
    // A response has begun: `itemID` is the audio it answers, `cardID` the card it was asked for;
    // with neither known it keeps a card of its own, which takes no question.
    void startResponse(const QString& responseID, const QString& itemID,
                       const QString& cardID = QString());
    // The question heard so far in this audio, before its transcription completes.
    void ingestTranscriptDelta(const QString& itemID, const QString& delta);
    // The answer to this audio waits for the one being written.
    void turnWaiting(const QString& itemID);
    // The service refused to write the answer asked for this audio or card.
    void answerRefused(const QString& itemID, const QString& cardID, const QString& message);
    void ingestDelta(const QString& responseID, const QString& delta);
    void completeResponse(const QString& responseID);
    // Puts why a response stopped short on the card it was filling and logs it. False when the
    // response was superseded by a merged follow-up, which nobody needs to hear about.
    bool endResponseShort(const QString& responseID,
                          const RealtimeClientInterface::ResponseEnd& end);
    // A question the service could not transcribe: logged, and noted on the card of that audio
    // (now, or when its answer makes one); no card takes a later question in its place.
    void transcriptionFailed(const QString& itemID, const QString& message);

    bool isContinuation(const QAPair& pair, const QString& text) const;
    void extendQuestion(qsizetype index, const QString& text);
    void pushHistory();

    const QList<QAPair>& pairs() const { return m_pairs; }
    QAPair* pair(const QString& id);
    QAPair* newest() { return m_pairs.isEmpty() ? nullptr : &m_pairs.last(); }
    // A card for a question asked other than by voice; its answer is asked for by the caller.
    QAPair& appendAskedQuestion(const QString& text);
    // The card's answer is asked for again: its first text and latency count afresh.
    void restartAnswer(const QString& cardID);
    // The empty, complete card the user's first words go under when no question exists yet.
    QAPair& appendPlaceholder();
    void notifyChanged();
    // Question times and first-token marks belong to one session's log.
    void forgetTimings();
    // Every card goes; answers still streaming for them find nothing to fill.
    void clear();
    // What linked answers to their audio belongs to one session of the service.
    void forgetLinks();

    static const QStringList& continuationPhrases();

private:
    QAPair makePair();
    QAPair* cardOfResponse(const QString& responseID);
    QAPair* cardOfItem(const QString& itemID);
    // The newest card made by an answer of unknown audio that still waits for its question.
    QAPair* unlinkedCardAwaitingQuestion();
    // The card an answer announced without any link goes to (a regenerated answer names its
    // card): the newest card of unknown audio still waiting for an answer, else a new one.
    QAPair& cardForUnlinkedResponse(const QString& responseID);
    void record(const QString& event, const QJsonObject& fields);
    void supersede(const QString& responseID);
    QAPair& appendCardOfItem(const QString& itemID);
    // A card that holds only what was heard of its question so far.
    static bool isOnlyHeard(const QAPair& pair);

    const Clock& m_clock;
    std::function<double()> m_followUpWindow;
    Hooks m_hooks;
    QList<QAPair> m_pairs;
    QHash<QString, double> m_questionAt;
    QSet<QString> m_firstTokenSeen;
    QSet<QString> m_supersededResponses;
    QHash<QString, QString> m_responseItems; // response id → the audio item it answers
    QSet<QString> m_mergedItems;             // audio folded into an earlier card's question
    QSet<QString> m_failedItems;             // audio not transcribed, whose card is yet to come
    QSet<QString> m_waitingItems;            // audio whose answer waits, whose card is yet to come
};

// Rounds to `decimals` places, halves away from zero.
double roundTo(double value, int decimals);
