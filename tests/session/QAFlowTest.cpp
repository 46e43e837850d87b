#include "session/QAFlow.h"
#include "support/FakeClock.h"

#include <gtest/gtest.h>

namespace {

using History = QList<RealtimeClientInterface::HistoryPair>;

struct Recorded {
    QString event;
    QJsonObject fields;
};

// A flow with every hook recorded, made afresh when a test asks.
class QAFlowTest : public ::testing::Test {
protected:
    QAFlowTest() { restart(); }
    // A fresh flow, every hook recorded.
    void restart() {
        QAFlow::Hooks hooks;
        hooks.isSpeaking = [this] { return speaking; };
        hooks.interviewerTookOver = [this] {
            ++tookOver;
            speaking = false;
        };
        hooks.record = [this](const QString& e, const QJsonObject& f) { records.append({e, f}); };
        hooks.regenerate = [this](const QString&, const QString& q) { regenerated.append(q); };
        hooks.cancelResponse = [this](const QString& id) { cancelled.append(id); };
        hooks.updateHistory = [this](const History& h) { histories.append(h); };
        flow = std::make_unique<QAFlow>(
            clock, [this] { return window; }, hooks);
    }

    QStringList events() const {
        QStringList list;
        for (const auto& r : records)
            list << r.event;
        return list;
    }
    const Recorded* last(const char* event) const {
        for (auto it = records.rbegin(); it != records.rend(); ++it)
            if (it->event == QLatin1String(event))
                return &*it;
        return nullptr;
    }

    FakeClock clock;
    double window = 8.0;
    bool speaking = false;
    int tookOver = 0;
    QList<Recorded> records;
    QStringList regenerated;
    QStringList cancelled;
    QList<History> histories;
    std::unique_ptr<QAFlow> flow;
};

struct FollowUpRow {
    const char* name;
    const char* previous;
    const char* next;
    double after;
    double window;
    bool merged;
};

void PrintTo(const FollowUpRow& row, std::ostream* out) {
    *out << row.name;
}

class FollowUpTest : public QAFlowTest, public ::testing::WithParamInterface<FollowUpRow> {};

TEST_P(FollowUpTest, DecidesWhetherANewTranscriptionExtendsTheLastQuestion) {
    const FollowUpRow& row = GetParam();
    window = row.window;
    flow->ingestTranscript(QString::fromUtf8(row.previous));
    clock.advance(row.after);
    flow->ingestTranscript(QString::fromUtf8(row.next));
    EXPECT_EQ(flow->pairs().size(), row.merged ? 1 : 2);
    EXPECT_EQ(regenerated.size(), row.merged ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FollowUpTest,
    ::testing::Values(
        FollowUpRow{"phrase_so", "Why Rust?", "So what about Go?", 3, 8, true},
        FollowUpRow{"phrase_upper_case", "Why Rust?", "AND the build times", 3, 8, true},
        FollowUpRow{"phrase_for_example", "Tell me more.", "For example the API", 3, 8, true},
        FollowUpRow{"phrase_eg", "Tell me more.", "eg the API", 3, 8, true},
        FollowUpRow{"phrase_needs_blank", "Tell me more.", "Andrew joined us", 3, 8, false},
        FollowUpRow{"capital_after_full_stop", "Tell me about you.", "What is Rust?", 3, 8, false},
        FollowUpRow{"capital_after_exclamation", "Great!", "Next one?", 3, 8, false},
        FollowUpRow{"lower_case_start", "Why Rust?", "then the build", 3, 8, true},
        FollowUpRow{"unterminated_question", "Tell me about the migration", "What broke?", 3, 8,
                    true},
        FollowUpRow{"trailing_blanks_ignored", "Why Rust?  ", "What broke?", 3, 8, false},
        FollowUpRow{"window_edge_inside", "Why Rust?", "so why", 8, 8, true},
        FollowUpRow{"window_edge_outside", "Why Rust?", "so why", 9, 8, false},
        FollowUpRow{"window_off", "Why Rust", "so why", 1, 0, false},
        FollowUpRow{"blank_text_never_merges", "Why Rust", "   ", 1, 8, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QAFlowTest, MergeJoinsCollapsesDoubleBlanksOnceAndReopensTheCard) {
    flow->ingestTranscript(QStringLiteral("Why  Rust  "));
    flow->ingestDelta(QStringLiteral("r1"), QString());
    flow->ingestDelta(QStringLiteral("r1"), QStringLiteral("Because"));
    clock.advance(3);
    flow->ingestTranscript(QStringLiteral("  and   Go?"));
    ASSERT_EQ(flow->pairs().size(), 1);
    const QAPair& card = flow->pairs().first();
    // Five blanks after "Rust" become three and three after "and" become two: one pass only.
    EXPECT_EQ(card.question, QStringLiteral("Why Rust   and  Go?"));
    EXPECT_TRUE(card.wasExtended);
    EXPECT_TRUE(card.answer.isEmpty());
    EXPECT_FALSE(card.isComplete);
    EXPECT_FALSE(card.responseID.has_value());
    EXPECT_EQ(regenerated, QStringList{card.question});
    const Recorded* extended = last("question_extended");
    ASSERT_TRUE(extended);
    EXPECT_EQ(extended->fields.value("added").toString(), QStringLiteral("  and   Go?"));
    EXPECT_EQ(extended->fields.value("merged").toString(), card.question);
}

TEST_F(QAFlowTest, ChainOfFollowUpsKeepsExtendingTheSameCard) {
    flow->ingestTranscript(QStringLiteral("Tell me about Kafka"));
    clock.advance(6);
    flow->ingestTranscript(QStringLiteral("and the consumers"));
    clock.advance(6);
    flow->ingestTranscript(QStringLiteral("also the retries"));
    ASSERT_EQ(flow->pairs().size(), 1);
    EXPECT_EQ(flow->pairs()[0].question,
              QStringLiteral("Tell me about Kafka and the consumers also the retries"));
}

TEST_F(QAFlowTest, TranscriptionFirstThenAnswer) {
    flow->ingestTranscript(QStringLiteral("What is your biggest failure?"));
    clock.advance(1.25);
    flow->ingestDelta(QStringLiteral("r1"), QString());
    EXPECT_EQ(flow->pairs()[0].responseID, QStringLiteral("r1"));
    EXPECT_FALSE(last("answer_started")) << "an empty delta records nothing";
    flow->ingestDelta(QStringLiteral("r1"), QStringLiteral("In 2021 "));
    flow->ingestDelta(QStringLiteral("r1"), QStringLiteral("we lost a region."));
    flow->completeResponse(QStringLiteral("r1"));

    ASSERT_EQ(flow->pairs().size(), 1);
    EXPECT_EQ(flow->pairs()[0].answer, QStringLiteral("In 2021 we lost a region."));
    EXPECT_TRUE(flow->pairs()[0].isComplete);
    EXPECT_EQ(events(), (QStringList{"question", "answer_started", "answer_done"}));
    EXPECT_DOUBLE_EQ(last("answer_started")->fields.value("latency_after_question_s").toDouble(),
                     1.25);
    const Recorded* done = last("answer_done");
    EXPECT_EQ(done->fields.value("chars").toInt(), 25);
    EXPECT_EQ(done->fields.value("answer").toString(), QStringLiteral("In 2021 we lost a region."));
    ASSERT_EQ(histories.size(), 1);
    EXPECT_EQ(histories.last(), (History{{QStringLiteral("What is your biggest failure?"),
                                          QStringLiteral("In 2021 we lost a region.")}}));
}

TEST_F(QAFlowTest, AnswerFirstThenTranscriptionFillsThatCard) {
    flow->ingestDelta(QStringLiteral("r1"), QString());
    ASSERT_EQ(flow->pairs().size(), 1);
    EXPECT_TRUE(flow->pairs()[0].question.isEmpty());
    flow->ingestDelta(QStringLiteral("r1"), QStringLiteral("Sure."));
    EXPECT_FALSE(last("answer_started")->fields.contains("latency_after_question_s"))
        << "no latency without a known question time";
    flow->ingestTranscript(QStringLiteral("Can you summarise?"));
    ASSERT_EQ(flow->pairs().size(), 1);
    EXPECT_EQ(flow->pairs()[0].question, QStringLiteral("Can you summarise?"));
    flow->ingestDelta(QStringLiteral("r1"), QStringLiteral(" Yes."));
    EXPECT_EQ(flow->pairs()[0].answer, QStringLiteral("Sure. Yes."));
}

TEST_F(QAFlowTest, FollowUpAfterItsAnswerWasAnnouncedFillsTheAnnouncedCard) {
    flow->ingestTranscript(QStringLiteral("Why Rust?"));
    flow->ingestDelta(QStringLiteral("r1"), QStringLiteral("Safety."));
    flow->completeResponse(QStringLiteral("r1"));
    clock.advance(2);
    flow->ingestDelta(QStringLiteral("r2"), QString()); // announced before its transcription
    flow->ingestTranscript(QStringLiteral("and why not Go?"));
    ASSERT_EQ(flow->pairs().size(), 2);
    EXPECT_EQ(flow->pairs()[1].question, QStringLiteral("and why not Go?"));
    EXPECT_TRUE(regenerated.isEmpty());
}

TEST_F(QAFlowTest, MergeWhileAnsweringDropsLateDeltasOfTheSupersededAnswer) {
    flow->ingestTranscript(QStringLiteral("Walk me through the outage"));
    flow->ingestDelta(QStringLiteral("old"), QStringLiteral("First we"));
    clock.advance(2);
    flow->ingestTranscript(QStringLiteral("and what you changed after"));
    flow->ingestDelta(QStringLiteral("old"), QStringLiteral(" paged the team")); // late
    flow->ingestDelta(QStringLiteral("new"), QString());
    flow->ingestDelta(QStringLiteral("new"), QStringLiteral("We added canaries."));
    flow->completeResponse(QStringLiteral("old"));
    EXPECT_EQ(cancelled, QStringList{"old"});
    ASSERT_EQ(flow->pairs().size(), 1);
    EXPECT_FALSE(flow->pairs()[0].isComplete) << "the superseded end marks nothing";
    EXPECT_EQ(flow->pairs()[0].answer, QStringLiteral("We added canaries."));
    flow->completeResponse(QStringLiteral("new"));
    EXPECT_TRUE(flow->pairs()[0].isComplete);
    // A second end of the old response is no longer superseded: it touches no card.
    flow->ingestDelta(QStringLiteral("old"), QStringLiteral("x"));
    EXPECT_EQ(flow->pairs().size(), 2) << "after draining, an old id is just an unknown one";
}

TEST_F(QAFlowTest, QuestionRecordsWhetherTheUserWasSpeakingBeforeTheQuestionEndedIt) {
    speaking = true;
    flow->ingestTranscript(QStringLiteral("Sorry to interrupt, why?"));
    EXPECT_EQ(tookOver, 1);
    EXPECT_TRUE(last("question")->fields.value("you_were_speaking").toBool());
    flow->ingestTranscript(QStringLiteral("Next?"));
    EXPECT_FALSE(last("question")->fields.value("you_were_speaking").toBool());
}

TEST_F(QAFlowTest, EmptyCompleteCardsAreRemovedAtTheNextEndUnlessTheyHoldMyAnswer) {
    QAPair& spoken = flow->appendPlaceholder();
    spoken.myAnswer = QStringLiteral("I think");
    flow->appendPlaceholder();
    flow->ingestDelta(QStringLiteral("r"), QStringLiteral("A")); // both placeholders are complete
    ASSERT_EQ(flow->pairs().size(), 3);
    flow->completeResponse(QStringLiteral("r"));
    ASSERT_EQ(flow->pairs().size(), 2);
    EXPECT_EQ(flow->pairs()[0].myAnswer, QStringLiteral("I think"));
    EXPECT_EQ(flow->pairs()[1].answer, QStringLiteral("A"));
    EXPECT_EQ(histories.last().size(), 1) << "cards without question or answer are not history";
}

TEST_F(QAFlowTest, EndWithoutOwnerCompletesTheNewestIncompleteCard) {
    flow->ingestTranscript(QStringLiteral("One?"));
    flow->ingestTranscript(QStringLiteral("Two?"));
    flow->completeResponse(QStringLiteral("unknown"));
    EXPECT_FALSE(flow->pairs()[0].isComplete);
    EXPECT_TRUE(flow->pairs()[1].isComplete);
    EXPECT_FALSE(last("answer_done"));
}

TEST_F(QAFlowTest, ShortEndPutsItsReasonOnTheCardItWasFillingAndInTheLog) {
    using End = RealtimeClientInterface::ResponseEnd;
    struct Row {
        End end;
        const char* notice;
    };
    const Row table[] = {
        {{"failed", "insufficient_quota", "You exceeded your current quota."},
         "(no answer: the OpenAI account is out of credit)"},
        {{"failed", "rate_limit_exceeded", ""}, "(no answer: OpenAI is rate limiting this key)"},
        {{"failed", "server_error", "The server had an error."},
         "(no answer: The server had an error.)"},
        {{"incomplete", "max_output_tokens", ""},
         "(answer cut short: it reached the length limit)"},
        {{"incomplete", "content_filter", ""},
         "(answer cut short: OpenAI's content filter stopped it)"},
        {{"cancelled", "", ""}, "(answer cancelled)"},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.notice);
        flow->clear();
        flow->ingestTranscript(QStringLiteral("Why us?"));
        flow->ingestDelta(QStringLiteral("r"), QStringLiteral("Because"));
        flow->ingestTranscript(QStringLiteral("Next one?"));
        EXPECT_TRUE(flow->endResponseShort(QStringLiteral("r"), row.end));
        flow->completeResponse(QStringLiteral("r"));
        ASSERT_EQ(flow->pairs().size(), 2);
        EXPECT_EQ(flow->pairs()[0].notice, QString::fromUtf8(row.notice));
        EXPECT_EQ(flow->pairs()[0].answer, QStringLiteral("Because")) << "what came stays";
        EXPECT_EQ(flow->pairs()[1].notice, QString());
        const Recorded* record = last("answer_failed");
        ASSERT_TRUE(record);
        EXPECT_EQ(record->fields.value("pair").toString(), flow->pairs()[0].id);
        EXPECT_EQ(record->fields.value("status").toString(), row.end.status);
        EXPECT_EQ(record->fields.value("reason").toString(), row.end.reason);
    }
}

TEST_F(QAFlowTest, ShortEndBeforeAnyTokenKeepsItsCardAndASupersededOneStaysSilent) {
    flow->ingestTranscript(QStringLiteral("Why us?"));
    flow->endResponseShort(QStringLiteral("r"), {QStringLiteral("failed"), {}, {}});
    flow->completeResponse(QStringLiteral("r"));
    ASSERT_EQ(flow->pairs().size(), 1);
    EXPECT_EQ(flow->pairs()[0].notice, QStringLiteral("(no answer)"));

    flow->clear();
    records.clear();
    flow->ingestDelta(QStringLiteral("r"), QString()); // a card with neither question nor answer
    flow->endResponseShort(QStringLiteral("r"), {QStringLiteral("failed"), {}, {}});
    flow->completeResponse(QStringLiteral("r"));
    EXPECT_EQ(flow->pairs().size(), 1) << "a card that says why is not an empty card";

    flow->clear();
    flow->ingestTranscript(QStringLiteral("Walk me through the outage"));
    flow->ingestDelta(QStringLiteral("old"), QStringLiteral("First we"));
    flow->ingestTranscript(QStringLiteral("and what you changed after"));
    records.clear();
    EXPECT_FALSE(flow->endResponseShort(
        QStringLiteral("old"),
        {QStringLiteral("cancelled"), QStringLiteral("client_cancelled"), {}}));
    flow->completeResponse(QStringLiteral("old"));
    EXPECT_EQ(flow->pairs()[0].notice, QString());
    EXPECT_FALSE(last("answer_failed"));
}

TEST_F(QAFlowTest, FailedTranscriptionNotesTheNewestCardWithoutQuestionAndKeepsItsAnswer) {
    flow->ingestTranscript(QStringLiteral("One?"));
    flow->ingestDelta(QStringLiteral("r1"), QStringLiteral("First."));
    flow->completeResponse(QStringLiteral("r1"));
    flow->startResponse(QStringLiteral("r2"), QStringLiteral("i2"));
    flow->ingestDelta(QStringLiteral("r2"), QStringLiteral("Second.")); // its question is lost
    flow->transcriptionFailed(QStringLiteral("i2"), QStringLiteral("Unintelligible."));
    flow->completeResponse(QStringLiteral("r2"));
    ASSERT_EQ(flow->pairs().size(), 2);
    EXPECT_EQ(flow->pairs()[0].notice, QString());
    EXPECT_EQ(flow->pairs()[1].notice, QStringLiteral("(the question could not be transcribed)"));
    EXPECT_EQ(flow->pairs()[1].answer, QStringLiteral("Second."));
    const Recorded* record = last("transcription_failed");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->fields.value("message").toString(), QStringLiteral("Unintelligible."));
    EXPECT_EQ(record->fields.value("pair").toString(), flow->pairs()[1].id);

    // The next question gets a card of its own: the lost one keeps its answer.
    flow->ingestTranscript(QStringLiteral("Three?"));
    ASSERT_EQ(flow->pairs().size(), 3);
    EXPECT_EQ(flow->pairs()[1].question, QString());
    EXPECT_EQ(flow->pairs()[2].question, QStringLiteral("Three?"));

    // With no card waiting for its question, only the log hears of it.
    flow->transcriptionFailed(QStringLiteral("i4"), QStringLiteral("Empty."));
    EXPECT_EQ(flow->pairs().size(), 3);
    EXPECT_FALSE(last("transcription_failed")->fields.contains("pair"));
}

// Each answer goes to the card of the audio it answers, whatever order the service reports the
// pieces in. A script is one event per line: "R resp item [cN]" a response begins (for audio
// item, or "-" and the card at index N, or neither), "D resp text" a delta, "E resp" its end,
// "T item text" a transcription, "H item text" part of it heard, "F item" a failed one,
// "W item" its answer waits, "+" time passes.
TEST_F(QAFlowTest, AnswersStayUnderTheQuestionOfTheirOwnAudio) {
    struct Row {
        const char* name;
        std::vector<const char*> script;
        std::vector<const char*> cards; // "question | answer | notice"
    };
    const Row table[] = {
        {"failure_reported_before_its_answer",
         {"F i1", "R r1 i1", "D r1 Sure, take your time.", "E r1",
          "T i2 What is your greatest weakness?", "R r2 i2", "D r2 Impatience.", "E r2"},
         {" | Sure, take your time. | (the question could not be transcribed)",
          "What is your greatest weakness? | Impatience. | "}},
        {"two_answers_before_their_transcriptions",
         {"R r1 i1", "R r2 i2", "D r1 Five years.", "D r2 Remote.", "E r1", "E r2",
          "T i1 Where do you see yourself?", "T i2 Remote or office?"},
         {"Where do you see yourself? | Five years. | ", "Remote or office? | Remote. | "}},
        {"transcription_after_the_next_answer",
         {"R r1 i1", "D r1 A.", "E r1", "R r2 i2", "D r2 B.", "T i1 First?", "T i2 Second?"},
         {"First? | A. | ", "Second? | B. | "}},
        {"regenerated_answer_goes_to_the_merged_card",
         {"T i1 Walk me through the outage", "R r1 i1", "D r1 First we",
          "T i2 and what you changed after", "R r2 i2", "D r2 ignored", "+", "T i3 Why us?",
          "R g - c0", "D g We added canaries.", "E g"},
         {"Walk me through the outage and what you changed after | We added canaries. | ",
          "Why us? |  | "}},
        {"a_late_transcription_replaces_the_failure_notice",
         {"R r1 i1", "D r1 A.", "F i1", "T i1 Why?", "E r1"},
         {"Why? | A. | "}},
        {"an_answer_under_way_keeps_its_card_when_another_ends",
         {"T i1 First?", "R r1 i1", "D r1 A.", "R r2 i2", "E r1", "T i2 Second?"},
         {"First? | A. | ", "Second? |  | "}},
        {"an_answer_of_unknown_audio_takes_no_question",
         {"R u -", "D u Sure.", "T i1 Why?", "R r1 i1", "D r1 Because."},
         {" | Sure. | ", "Why? | Because. | "}},
        {"text_after_the_end_changes_nothing",
         {"T i1 Why?", "R r1 i1", "D r1 Because.", "E r1", "D r1 late"},
         {"Why? | Because. | "}},
        {"the_question_heard_live_then_completed",
         {"H i1 Why", "H i1  Rust", "T i1 Why Rust?", "R r1 i1", "D r1 Safety."},
         {"Why Rust? | Safety. | "}},
        {"a_question_heard_in_part_keeps_its_words",
         {"H i1 Why", "F i1"},
         {"Why |  | (heard in part: the transcription did not complete)"}},
        {"a_follow_up_heard_live_is_merged",
         {"T i1 Tell me about Kafka", "R r1 i1", "D r1 A.", "H i2 and", "T i2 and the consumers",
          "R g - c0", "D g B."},
         {"Tell me about Kafka and the consumers | B. | "}},
        {"a_waiting_turn_says_so_until_its_answer_starts",
         {"T i1 First?", "R r1 i1", "W i2", "T i2 Second?", "W i3", "E r1"},
         {"First? |  | ", "Second? |  | (waiting for the answer before it)"}},
        {"a_waiting_answer_clears_the_notice",
         {"W i1", "T i1 First?", "R r1 i1", "D r1 A."},
         {"First? | A. | "}},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        records.clear();
        histories.clear();
        restart();
        for (const char* line : row.script) {
            const QStringList words = QString::fromUtf8(line).split(u' ');
            const QString rest = words.mid(2).join(u' ');
            const QString& op = words[0];
            if (op == u"R")
                flow->startResponse(words[1], words[2] == u"-" ? QString() : words[2],
                                    words.size() > 3 ? flow->pairs().at(words[3].mid(1).toInt()).id
                                                     : QString());
            else if (op == u"D")
                flow->ingestDelta(words[1], rest);
            else if (op == u"E")
                flow->completeResponse(words[1]);
            else if (op == u"T")
                flow->ingestTranscript(rest, words[1]);
            else if (op == u"F")
                flow->transcriptionFailed(words[1], QStringLiteral("Unintelligible."));
            else if (op == u"H")
                flow->ingestTranscriptDelta(words[1], line + op.size() + words[1].size() + 2);
            else if (op == u"W")
                flow->turnWaiting(words[1]);
            else
                clock.advance(window + 1);
        }
        QStringList cards;
        History seeded; // what a reconnect now would hand the new session
        for (const QAPair& card : flow->pairs()) {
            cards << card.question + " | " + card.answer + " | " + card.notice;
            seeded.append({card.question, card.answer});
        }
        if (!histories.isEmpty()) {
            EXPECT_EQ(histories.last(), seeded);
        }
        QStringList expected;
        for (const char* card : row.cards)
            expected << QString::fromUtf8(card);
        EXPECT_EQ(cards, expected);
        // The log names the card that took each text (a merged question grew after it came).
        for (const Recorded& r : records) {
            const QAPair* card = flow->pair(r.fields.value("pair").toString());
            if (r.event == u"question") {
                EXPECT_TRUE(card && card->question.startsWith(r.fields.value("text").toString()))
                    << r.fields.value("text").toString().toStdString();
            }
            if (r.event == u"answer_done") {
                EXPECT_TRUE(card && card->answer == r.fields.value("answer").toString())
                    << r.fields.value("answer").toString().toStdString();
            }
        }
    }
}

TEST_F(QAFlowTest, ContinuationPhrasesAreTheTwentySixWithTrailingBlanks) {
    const QStringList& phrases = QAFlow::continuationPhrases();
    EXPECT_EQ(phrases.size(), 26);
    for (const QString& phrase : phrases)
        EXPECT_TRUE(phrase.endsWith(u' ') && phrase == phrase.toLower()) << phrase.toStdString();
}

} // namespace
