#include "session/QAFlow.h"

#include "base/Clock.h"
#include "settings/Graphemes.h"

#include <QUuid>
#include <cmath>

double roundTo(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale; // std::round takes halves away from zero
}

namespace {
// Trims blanks, tabs and line breaks.
QString trimmedAll(const QString& text) {
    return text.trimmed();
}

// Trims white space but not line breaks.
QString trimmedBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto isBlank = [](QChar c) { return c.isSpace() && c != u'\n' && c != u'\r'; };
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}
const QString& untranscribedNotice() {
    static const QString text = QStringLiteral("(the question could not be transcribed)");
    return text;
}
const QString& partlyHeardNotice() {
    static const QString text =
        QStringLiteral("(heard in part: the transcription did not complete)");
    return text;
}
const QString& waitingNotice() {
    static const QString text = QStringLiteral("(waiting for the answer before it)");
    return text;
}

// A few words on why an answer stopped, for its card.
QString shortNotice(const RealtimeClientInterface::ResponseEnd& end) {
    static const QHash<QString, QString> reasons{
        {QStringLiteral("insufficient_quota"),
         QStringLiteral("the OpenAI account is out of credit")},
        {QStringLiteral("rate_limit_exceeded"), QStringLiteral("OpenAI is rate limiting this key")},
        {QStringLiteral("max_output_tokens"), QStringLiteral("it reached the length limit")},
        {QStringLiteral("content_filter"), QStringLiteral("OpenAI's content filter stopped it")},
    };
    QString why = reasons.value(end.reason);
    if (why.isEmpty())
        why = !end.message.isEmpty() ? end.message : end.reason;
    const QString what = end.status == u"failed"       ? QStringLiteral("(no answer")
                         : end.status == u"incomplete" ? QStringLiteral("(answer cut short")
                                                       : QStringLiteral("(answer cancelled");
    return why.isEmpty() ? what + u')' : what + QStringLiteral(": ") + why + u')';
}
} // namespace

QAFlow::QAFlow(const Clock& clock, std::function<double()> followUpWindow, Hooks hooks)
    : m_clock(clock), m_followUpWindow(std::move(followUpWindow)), m_hooks(std::move(hooks)) {}

const QStringList& QAFlow::continuationPhrases() {
    static const QStringList phrases{QStringLiteral("and "),
                                     QStringLiteral("also "),
                                     QStringLiteral("plus "),
                                     QStringLiteral("or "),
                                     QStringLiteral("but "),
                                     QStringLiteral("so "),
                                     QStringLiteral("as in "),
                                     QStringLiteral("i mean "),
                                     QStringLiteral("sorry "),
                                     QStringLiteral("specifically "),
                                     QStringLiteral("in particular "),
                                     QStringLiteral("for example "),
                                     QStringLiteral("for instance "),
                                     QStringLiteral("especially "),
                                     QStringLiteral("particularly "),
                                     QStringLiteral("including "),
                                     QStringLiteral("such as "),
                                     QStringLiteral("like "),
                                     QStringLiteral("maybe "),
                                     QStringLiteral("just "),
                                     QStringLiteral("actually "),
                                     QStringLiteral("what i mean "),
                                     QStringLiteral("to be clear "),
                                     QStringLiteral("that is "),
                                     QStringLiteral("ie "),
                                     QStringLiteral("eg ")};
    return phrases;
}

QAPair QAFlow::makePair() {
    QAPair pair;
    pair.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    pair.timestamp = m_clock.wallNow().toString(QStringLiteral("HH:mm:ss"));
    pair.lastQuestionAt = m_clock.now();
    return pair;
}

void QAFlow::record(const QString& event, const QJsonObject& fields) {
    if (m_hooks.record)
        m_hooks.record(event, fields);
}

void QAFlow::notifyChanged() {
    if (m_hooks.pairsChanged)
        m_hooks.pairsChanged();
}

QAPair* QAFlow::pair(const QString& id) {
    for (QAPair& candidate : m_pairs)
        if (candidate.id == id)
            return &candidate;
    return nullptr;
}

QAPair& QAFlow::appendAskedQuestion(const QString& text) {
    QAPair card = makePair();
    card.question = text;
    m_questionAt.insert(card.id, m_clock.now());
    m_pairs.append(card);
    return m_pairs.last();
}

void QAFlow::restartAnswer(const QString& cardID) {
    QAPair* card = pair(cardID);
    if (!card)
        return;
    card->responseID.reset();
    m_firstTokenSeen.remove(cardID);
    m_questionAt.insert(cardID, m_clock.now());
    notifyChanged();
}

QAPair& QAFlow::appendPlaceholder() {
    QAPair placeholder = makePair();
    placeholder.isComplete = true;
    m_pairs.append(placeholder);
    notifyChanged();
    return m_pairs.last();
}

void QAFlow::clear() {
    m_pairs.clear();
    notifyChanged();
}

void QAFlow::forgetLinks() {
    // What was heard of a question that never completed stays, said to be partial.
    bool changed = false;
    for (QAPair& card : m_pairs) {
        if (card.questionInProgress) {
            card.questionInProgress = false;
            if (card.notice.isEmpty())
                card.notice = partlyHeardNotice();
            changed = true;
        }
        if (card.notice == waitingNotice()) {
            card.notice.clear();
            changed = true;
        }
    }
    if (changed)
        notifyChanged();
    m_waitingItems.clear();
    m_responseItems.clear();
    m_mergedItems.clear();
    m_failedItems.clear();
}

void QAFlow::forgetTimings() {
    m_questionAt.clear();
    m_firstTokenSeen.clear();
}

bool QAFlow::isOnlyHeard(const QAPair& pair) {
    return pair.questionInProgress && !pair.responseID && pair.answer.isEmpty() &&
           pair.myAnswer.isEmpty();
}

QAPair& QAFlow::appendCardOfItem(const QString& itemID) {
    QAPair fresh = makePair();
    fresh.inputItemID = itemID;
    if (m_failedItems.remove(itemID))
        fresh.notice = untranscribedNotice();
    else if (m_waitingItems.remove(itemID))
        fresh.notice = waitingNotice();
    m_pairs.append(fresh);
    return m_pairs.last();
}

void QAFlow::ingestTranscriptDelta(const QString& itemID, const QString& delta) {
    if (itemID.isEmpty() || delta.isEmpty() || m_mergedItems.contains(itemID))
        return;
    QAPair* card = cardOfItem(itemID);
    if (!card)
        card = &appendCardOfItem(itemID);
    else if (!card->question.isEmpty() && !card->questionInProgress)
        return; // its transcript is already complete
    card->question += delta;
    card->questionInProgress = true;
    notifyChanged();
}

void QAFlow::ingestTranscript(const QString& text, const QString& itemID) {
    // Whether the user was talking when the question came, before the question ends that.
    const bool wasSpeaking = m_hooks.isSpeaking && m_hooks.isSpeaking();
    if (m_hooks.interviewerTookOver)
        m_hooks.interviewerTookOver();

    QAPair* target = cardOfItem(itemID);
    // A card that only shows what was heard so far is not a question yet: whether this one
    // follows up is judged against the card before it.
    const bool onlyHeard = target && isOnlyHeard(*target) && target == &m_pairs.last();
    const qsizetype previous = m_pairs.size() - (onlyHeard ? 2 : 1);
    if ((!target || onlyHeard) && previous >= 0 && isContinuation(m_pairs[previous], text)) {
        if (!itemID.isEmpty()) {
            m_mergedItems.insert(itemID);
            if (m_hooks.skipTurn)
                m_hooks.skipTurn(itemID);
        }
        if (onlyHeard)
            m_pairs.removeLast();
        extendQuestion(previous, text);
        return;
    }

    // Without an audio id, the first card made by an answer of unknown audio is the best guess
    // for it. A card of known audio takes only its own question.
    if (!target && itemID.isEmpty())
        target = unlinkedCardAwaitingQuestion();
    const bool answerCameFirst = target && (target->responseID || !target->answer.isEmpty());
    if (!target)
        target = &appendCardOfItem(itemID);
    target->question = text;
    target->questionInProgress = false;
    target->lastQuestionAt = m_clock.now();
    if (target->notice == untranscribedNotice() || target->notice == partlyHeardNotice())
        target->notice.clear();

    m_questionAt.insert(target->id, m_clock.now());
    record(QStringLiteral("question"), {{QStringLiteral("text"), text},
                                        {QStringLiteral("pair"), target->id},
                                        {QStringLiteral("you_were_speaking"), wasSpeaking}});
    notifyChanged();
    // The history handed over at the answer's end lacked this question; a reconnect now would
    // seed the answer without it.
    if (answerCameFirst)
        pushHistory();
}

bool QAFlow::isContinuation(const QAPair& pair, const QString& text) const {
    const double window = m_followUpWindow ? m_followUpWindow() : 0.0;
    if (!(window > 0))
        return false;
    if (pair.question.isEmpty())
        return false;
    if (m_clock.now() - pair.lastQuestionAt > window)
        return false;
    const QString trimmed = trimmedAll(text);
    if (trimmed.isEmpty())
        return false;

    const QString lower = trimmed.toLower();
    for (const QString& phrase : continuationPhrases())
        if (lower.startsWith(phrase))
            return true;
    if (trimmed.front().isLower())
        return true;
    const QString previous = trimmedBlanks(pair.question);
    if (previous.isEmpty())
        return false;
    const QChar last = previous.back();
    return last != u'.' && last != u'?' && last != u'!';
}

void QAFlow::extendQuestion(qsizetype index, const QString& text) {
    QAPair& target = m_pairs[index];
    QString merged = target.question + u' ' + text;
    merged.replace(QStringLiteral("  "), QStringLiteral(" ")); // one left-to-right pass
    merged = merged.trimmed();

    if (target.responseID)
        supersede(*target.responseID);
    if (target.notice == waitingNotice())
        target.notice.clear();
    target.question = merged;
    target.lastQuestionAt = m_clock.now();
    target.wasExtended = true;
    target.answer.clear();
    // The question is another now: rewrites of the old answer no longer apply.
    target.versions.clear();
    target.shownVersion = 0;
    target.rewriting.clear();
    target.isComplete = false;
    target.responseID.reset();

    m_questionAt.insert(target.id, m_clock.now());
    m_firstTokenSeen.remove(target.id);
    record(QStringLiteral("question_extended"), {{QStringLiteral("merged"), merged},
                                                 {QStringLiteral("added"), text},
                                                 {QStringLiteral("pair"), target.id}});
    notifyChanged();
    if (m_hooks.regenerate)
        m_hooks.regenerate(target.id, merged);
}

void QAFlow::supersede(const QString& responseID) {
    m_supersededResponses.insert(responseID);
    if (m_hooks.cancelResponse)
        m_hooks.cancelResponse(responseID);
}

QAPair* QAFlow::cardOfResponse(const QString& responseID) {
    for (qsizetype i = m_pairs.size() - 1; i >= 0; --i)
        if (m_pairs[i].responseID == responseID)
            return &m_pairs[i];
    return nullptr;
}

QAPair* QAFlow::unlinkedCardAwaitingQuestion() {
    for (qsizetype i = m_pairs.size() - 1; i >= 0; --i) {
        const QAPair& card = m_pairs[i];
        if (card.inputItemID.isEmpty() && !card.ownsUnknownAnswer && card.question.isEmpty() &&
            card.myAnswer.isEmpty() && card.notice != untranscribedNotice())
            return &m_pairs[i];
    }
    return nullptr;
}

QAPair* QAFlow::cardOfItem(const QString& itemID) {
    if (itemID.isEmpty())
        return nullptr;
    for (qsizetype i = m_pairs.size() - 1; i >= 0; --i)
        if (m_pairs[i].inputItemID == itemID)
            return &m_pairs[i];
    return nullptr;
}

QAPair& QAFlow::cardForUnlinkedResponse(const QString& responseID) {
    // A card of known audio waits for the answer to that audio.
    for (qsizetype i = m_pairs.size() - 1; i >= 0; --i) {
        if (!m_pairs[i].responseID && !m_pairs[i].isComplete && m_pairs[i].inputItemID.isEmpty()) {
            m_pairs[i].responseID = responseID;
            return m_pairs[i];
        }
    }
    QAPair fresh = makePair();
    fresh.responseID = responseID;
    m_pairs.append(fresh);
    return m_pairs.last();
}

void QAFlow::startResponse(const QString& responseID, const QString& itemID,
                           const QString& cardID) {
    if (!cardID.isEmpty()) {
        QAPair* card = pair(cardID);
        if (!card) { // cleared meanwhile: nobody reads this answer
            supersede(responseID);
            return;
        }
        if (card->responseID && *card->responseID != responseID && !card->isComplete)
            supersede(*card->responseID);
        card->responseID = responseID;
        if (card->notice == waitingNotice())
            card->notice.clear();
    } else if (!itemID.isEmpty()) {
        // Its question was folded into an earlier card, which gets an answer to the whole.
        if (m_mergedItems.contains(itemID)) {
            supersede(responseID);
            return;
        }
        m_responseItems.insert(responseID, itemID);
    } else if (!cardOfResponse(responseID)) {
        // Nothing says which question this answers: it keeps a card of its own rather than
        // taking another question's place.
        QAPair fresh = makePair();
        fresh.responseID = responseID;
        fresh.ownsUnknownAnswer = true;
        m_pairs.append(fresh);
    }
    ingestDelta(responseID, QString());
}

void QAFlow::turnWaiting(const QString& itemID) {
    QAPair* card = cardOfItem(itemID);
    QJsonObject fields{{QStringLiteral("item"), itemID}};
    if (card && !card->responseID && card->answer.isEmpty()) {
        if (card->notice.isEmpty())
            card->notice = waitingNotice();
        fields.insert(QStringLiteral("pair"), card->id);
        notifyChanged();
    } else if (!card) {
        m_waitingItems.insert(itemID);
    }
    record(QStringLiteral("answer_waiting"), fields);
}

void QAFlow::answerRefused(const QString& itemID, const QString& cardID, const QString& message) {
    QAPair* card = cardID.isEmpty() ? cardOfItem(itemID) : pair(cardID);
    QJsonObject fields{{QStringLiteral("status"), QStringLiteral("refused")},
                       {QStringLiteral("message"), message}};
    if (card && !card->isComplete) {
        card->notice = message.isEmpty() ? QStringLiteral("(no answer)")
                                         : QStringLiteral("(no answer: ") + message + u')';
        fields.insert(QStringLiteral("pair"), card->id);
        // A refused rewrite leaves the answer it was to replace.
        if (!card->rewriting.isEmpty()) {
            card->isComplete = true;
            if (m_hooks.answerFinished)
                m_hooks.answerFinished(*card);
        }
        notifyChanged();
    }
    record(QStringLiteral("answer_failed"), fields);
}

void QAFlow::ingestDelta(const QString& responseID, const QString& delta) {
    if (m_supersededResponses.contains(responseID))
        return;

    QAPair* target = cardOfResponse(responseID);
    const QString itemID = m_responseItems.value(responseID);
    if (!target && !itemID.isEmpty()) {
        target = cardOfItem(itemID);
        if (!target)
            target = &appendCardOfItem(itemID);
        target->responseID = responseID;
        if (target->notice == waitingNotice())
            target->notice.clear();
    }
    if (!target)
        target = &cardForUnlinkedResponse(responseID);
    // A finished answer is final: text the service sends after its end belongs nowhere.
    if (target->isComplete && !delta.isEmpty())
        return;

    if (!delta.isEmpty()) {
        if (!m_firstTokenSeen.contains(target->id)) {
            m_firstTokenSeen.insert(target->id);
            QJsonObject fields{
                {QStringLiteral("pair"), target->id},
                {QStringLiteral("response"), responseID},
                {QStringLiteral("you_were_speaking"), m_hooks.isSpeaking && m_hooks.isSpeaking()}};
            const auto asked = m_questionAt.constFind(target->id);
            if (asked != m_questionAt.constEnd())
                fields.insert(QStringLiteral("latency_after_question_s"),
                              roundTo(m_clock.now() - *asked, 3));
            record(QStringLiteral("answer_started"), fields);
        }
        target->answer += delta;
    }
    notifyChanged();
}

void QAFlow::completeResponse(const QString& responseID) {
    if (m_supersededResponses.remove(responseID))
        return;

    QAPair* owner = cardOfResponse(responseID);
    if (owner) {
        owner->isComplete = true;
        if (m_hooks.answerFinished)
            m_hooks.answerFinished(*owner);
    } else {
        for (qsizetype i = m_pairs.size() - 1; i >= 0; --i) {
            if (!m_pairs[i].isComplete) {
                m_pairs[i].isComplete = true;
                break;
            }
        }
    }
    if (owner)
        record(QStringLiteral("answer_done"),
               {{QStringLiteral("pair"), owner->id},
                {QStringLiteral("chars"), Graphemes::count(owner->answer)},
                {QStringLiteral("question"), owner->question},
                {QStringLiteral("answer"), owner->answer}});

    m_pairs.removeIf([](const QAPair& p) {
        return p.isComplete && p.question.isEmpty() && p.answer.isEmpty() && p.myAnswer.isEmpty() &&
               p.notice.isEmpty();
    });
    notifyChanged();
    pushHistory();
}

bool QAFlow::endResponseShort(const QString& responseID,
                              const RealtimeClientInterface::ResponseEnd& end) {
    if (m_supersededResponses.contains(responseID))
        return false;
    QAPair* owner = cardOfResponse(responseID);
    // Like its done: a response that never streamed belongs to the newest open card.
    for (qsizetype i = m_pairs.size() - 1; i >= 0 && !owner; --i)
        if (!m_pairs[i].isComplete)
            owner = &m_pairs[i];
    QJsonObject fields{{QStringLiteral("response"), responseID},
                       {QStringLiteral("status"), end.status},
                       {QStringLiteral("reason"), end.reason}};
    if (!end.message.isEmpty())
        fields.insert(QStringLiteral("message"), end.message);
    if (owner) {
        owner->notice = shortNotice(end);
        fields.insert(QStringLiteral("pair"), owner->id);
    }
    record(QStringLiteral("answer_failed"), fields);
    notifyChanged();
    return true;
}

void QAFlow::transcriptionFailed(const QString& itemID, const QString& message) {
    QAPair* target = cardOfItem(itemID);
    if (!target && itemID.isEmpty())
        target = unlinkedCardAwaitingQuestion();
    QJsonObject fields{{QStringLiteral("item"), itemID}, {QStringLiteral("message"), message}};
    if (target && target->questionInProgress) {
        target->questionInProgress = false;
        target->notice = partlyHeardNotice();
        fields.insert(QStringLiteral("pair"), target->id);
    } else if (target) {
        target->notice = untranscribedNotice();
        fields.insert(QStringLiteral("pair"), target->id);
    } else if (!itemID.isEmpty()) {
        m_failedItems.insert(itemID); // its answer has not begun: its card will say so
    }
    record(QStringLiteral("transcription_failed"), fields);
    if (target)
        notifyChanged();
}

void QAFlow::pushHistory() {
    QList<RealtimeClientInterface::HistoryPair> history;
    for (const QAPair& p : m_pairs)
        if (!p.question.isEmpty() || !p.answer.isEmpty())
            history.append({p.question, p.answer});
    if (m_hooks.updateHistory)
        m_hooks.updateHistory(history);
}
