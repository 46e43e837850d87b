#include "ui/Transcript.h"
#include "session/PairListModel.h"
#include "settings/AppSettings.h"
#include "support/TestHome.h"
#include "ui/CardFonts.h"
#include "ui/CardListModel.h"
#include "ui/FeedFingerprint.h"

#include <QAbstractItemModelTester>
#include <QFontDatabase>
#include <QFontInfo>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

QAPair pair(const QString& id, const QString& question, const QString& answer, bool complete,
            bool extended = false, const QString& mine = {}, bool recording = false) {
    QAPair p;
    p.id = id;
    p.timestamp = QStringLiteral("10:00:00");
    p.question = question;
    p.answer = answer;
    p.isComplete = complete;
    p.wasExtended = extended;
    p.myAnswer = mine;
    p.myAnswerInProgress = recording;
    return p;
}

// ---- What a card derives from its pair -------------------------------------------------

struct CardRow {
    const char* name;
    QAPair pair;
    bool unfolded;
    bool showsAnswer;
    QString placeholder;
    bool isStreaming;
    bool hasMyAnswer;
    QString myAnswerTitle;
    QString myAnswerCount;
    QString myAnswerBody;
};

class CardRoles : public ::testing::TestWithParam<CardRow> {};

TEST_P(CardRoles, DeriveFromThePair) {
    const CardRow& row = GetParam();
    PairListModel pairs;
    pairs.sync({row.pair});
    CardListModel cards;
    cards.setPairs(&pairs);
    if (row.unfolded)
        cards.toggleMyAnswer(row.pair.id);
    const QModelIndex at = cards.index(0, 0);
    auto role = [&](int r) { return cards.data(at, r); };
    EXPECT_EQ(role(CardListModel::ShowsAnswerRole).toBool(), row.showsAnswer);
    EXPECT_EQ(role(CardListModel::PlaceholderRole).toString(), row.placeholder);
    EXPECT_EQ(role(CardListModel::IsStreamingRole).toBool(), row.isStreaming);
    EXPECT_EQ(role(CardListModel::ShowsUpdatedRole).toBool(), row.pair.wasExtended);
    EXPECT_EQ(role(CardListModel::HasMyAnswerRole).toBool(), row.hasMyAnswer);
    EXPECT_EQ(role(CardListModel::MyAnswerTitleRole).toString(), row.myAnswerTitle);
    EXPECT_EQ(role(CardListModel::MyAnswerCountRole).toString(), row.myAnswerCount);
    EXPECT_EQ(role(CardListModel::MyAnswerBodyRole).toString(), row.myAnswerBody);
    EXPECT_EQ(role(CardListModel::IsMyAnswerShownRole).toBool(), row.unfolded);
    EXPECT_EQ(role(CardListModel::ChevronRole).toString(),
              row.unfolded ? QStringLiteral("\u25BE") : QStringLiteral("\u25B8"));
    EXPECT_EQ(role(PairListModel::QuestionRole).toString(), row.pair.question);
}

const QString thinking = QStringLiteral("thinking…");
const QString reanswering = QStringLiteral("re-answering the full question…");
const QString mine = QStringLiteral("My answer");
const QString recording = QStringLiteral("My answer (recording…)");

INSTANTIATE_TEST_SUITE_P(
    Table, CardRoles,
    ::testing::Values(
        CardRow{"waiting", pair("A", "Why?", "", false), false, false, thinking, false, false, mine,
                "", QStringLiteral("…")},
        CardRow{"streaming", pair("A", "Why?", "Because", false), false, true, thinking, true,
                false, mine, "", QStringLiteral("…")},
        CardRow{"completeButEmpty", pair("A", "Why?", "", true), false, true, thinking, false,
                false, mine, "", QStringLiteral("…")},
        CardRow{"done", pair("A", "Why?", "Because", true), false, true, thinking, false, false,
                mine, "", QStringLiteral("…")},
        CardRow{"extendedNoAnswerYet", pair("A", "Why? And how?", "", false, true), false, false,
                reanswering, false, false, mine, "", QStringLiteral("…")},
        CardRow{"recordingNothingYet", pair("A", "Q", "A", true, false, "", true), false, true,
                thinking, false, true, recording, "", QStringLiteral("…")},
        CardRow{"foldedThreeWords",
                pair("A", "Q", "A", true, false, QStringLiteral("two words\nthird"), false), false,
                true, thinking, false, true, mine, QStringLiteral("· 3 words"),
                QStringLiteral("two words\nthird")},
        CardRow{"foldedExtraSeparators",
                pair("A", "Q", "A", true, false, QStringLiteral("  one \n\n two  "), true), false,
                true, thinking, false, true, recording, QStringLiteral("· 2 words"),
                QStringLiteral("  one \n\n two  ")},
        CardRow{"unfoldedHasNoCount",
                pair("A", "Q", "A", true, false, QStringLiteral("two words"), false), true, true,
                thinking, false, true, mine, "", QStringLiteral("two words")}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The feed fingerprint ----------------------------------------------------------------

struct FingerprintRow {
    const char* name;
    QList<QAPair> pairs;
    QString expected;
};

class Fingerprint : public ::testing::TestWithParam<FingerprintRow> {};

TEST_P(Fingerprint, DescribesTheEndOfTheFeed) {
    EXPECT_EQ(FeedFingerprint::of(GetParam().pairs), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Fingerprint,
    ::testing::Values(
        FingerprintRow{"empty", {}, QStringLiteral("0")},
        FingerprintRow{"one", {pair("A", "Why?", "Because", false)}, QStringLiteral("1-4-7-false")},
        FingerprintRow{"lastCounts",
                       {pair("A", "Long first question", "x", true), pair("B", "Q2", "", true)},
                       QStringLiteral("2-2-0-true")},
        // A letter with its accent and a two-code-point flag are one character each.
        FingerprintRow{
            "graphemes",
            {pair("A", QStringLiteral("e\u0301?"), QStringLiteral("\U0001F1E9\U0001F1EA"), false)},
            QStringLiteral("1-2-1-false")},
        FingerprintRow{"ownAnswerIgnored",
                       {pair("A", "Why?", "Because", true, true, QStringLiteral("mine"), true)},
                       QStringLiteral("1-4-7-true")}),
    [](const auto& info) { return std::string(info.param.name); });

// The published value moves with the last card only, so an edit above never moves the view.
TEST(Fingerprint, FollowsTheModelAndIgnoresEarlierCards) {
    PairListModel pairs;
    FeedFingerprint feed;
    feed.setPairs(&pairs);
    QSignalSpy changed(&feed, &FeedFingerprint::valueChanged);
    const QList<QAPair> two{pair("A", "Q1", "x", true), pair("B", "Q2", "", false)};
    pairs.sync(two);
    EXPECT_EQ(feed.value(), QStringLiteral("2-2-0-false"));
    QList<QAPair> edited = two;
    edited[0].myAnswer = QStringLiteral("my own words");
    edited[0].answer = QStringLiteral("longer answer");
    pairs.sync(edited);
    edited[1].myAnswer = QStringLiteral("more");
    pairs.sync(edited);
    EXPECT_EQ(changed.count(), 1);
    edited[1].answer = QStringLiteral("ok");
    pairs.sync(edited);
    EXPECT_EQ(feed.value(), QStringLiteral("2-2-2-false"));
    EXPECT_EQ(changed.count(), 2);
}

// ---- Fonts ---------------------------------------------------------------------------------

struct FontRow {
    double size;
    double question;
    double answer;
    double meta;
};

class Fonts : public ::testing::TestWithParam<FontRow> {};

TEST_P(Fonts, FollowTheTextSize) {
    TestHome home;
    AppSettings settings(home.configHome() + QStringLiteral("/fonts.conf"));
    settings.setFontSize(GetParam().size);
    CardFonts fonts;
    fonts.setSettings(&settings);
    EXPECT_EQ(fonts.questionFont().pointSizeF(), GetParam().question);
    EXPECT_EQ(fonts.questionFont().weight(), QFont::DemiBold);
    EXPECT_EQ(fonts.answerFont().pointSizeF(), GetParam().answer);
    EXPECT_EQ(fonts.answerFont().weight(), QFont::Normal);
    EXPECT_EQ(fonts.metaFont().pointSizeF(), GetParam().meta);
    EXPECT_EQ(fonts.metaMonoFont().pointSizeF(), GetParam().meta);
}

INSTANTIATE_TEST_SUITE_P(Table, Fonts,
                         ::testing::Values(FontRow{10, 11, 10, 9}, FontRow{13, 14, 13, 9},
                                           FontRow{14, 15, 14, 10}, FontRow{36, 37, 36, 32}),
                         [](const auto& info) {
                             return "size" + std::to_string(int(info.param.size));
                         });

// Which family a setting gives: the system's, its fixed-pitch one, or the named one.
enum class Expect { system, fixed, named };

struct FamilyRow {
    const char* name;
    QString family;
    Expect expected;
};

class FontFamilies : public ::testing::TestWithParam<FamilyRow> {};

TEST_P(FontFamilies, ComeFromTheSetting) {
    TestHome home;
    AppSettings settings(home.configHome() + QStringLiteral("/fonts.conf"));
    const QString installed = QFontDatabase::families().constLast();
    const QString family =
        GetParam().family == QLatin1String("<installed>") ? installed : GetParam().family;
    settings.setFontFamily(family);
    const QString expected = GetParam().expected == Expect::system
                                 ? QFontDatabase::systemFont(QFontDatabase::GeneralFont).family()
                             : GetParam().expected == Expect::fixed
                                 ? QFontDatabase::systemFont(QFontDatabase::FixedFont).family()
                                 : installed;
    const QFont font = settings.font(12, QFont::Medium);
    EXPECT_EQ(font.family(), expected);
    EXPECT_EQ(font.pointSizeF(), 12);
    EXPECT_EQ(font.weight(), QFont::Medium);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FontFamilies,
    ::testing::Values(FamilyRow{"empty", "", Expect::system},
                      FamilyRow{"mono", QStringLiteral("__mono"), Expect::fixed},
                      FamilyRow{"missing", QStringLiteral("No Such Family 123"), Expect::system},
                      FamilyRow{"installed", QStringLiteral("<installed>"), Expect::named}),
    [](const auto& info) { return std::string(info.param.name); });

// A new size is one notification; the same size again none.
TEST(Fonts, NotifyOnRealChangeOnly) {
    TestHome home;
    AppSettings settings(home.configHome() + QStringLiteral("/fonts.conf"));
    CardFonts fonts;
    fonts.setSettings(&settings);
    QSignalSpy changed(&fonts, &CardFonts::fontsChanged);
    settings.setFontSize(20);
    settings.setFontFamily(QStringLiteral("No Such Family 123"));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(fonts.answerFont().pointSizeF(), 20);
}

// ---- Streaming into the card list ----------------------------------------------------------

TEST(CardList, AStreamedDeltaIsOneRowsChangeWithItsDerivedRoles) {
    PairListModel pairs;
    CardListModel cards;
    QAbstractItemModelTester tester(&cards, QAbstractItemModelTester::FailureReportingMode::Fatal);
    cards.setPairs(&pairs);
    QList<QAPair> feed{pair("A", "Q1", "done", true), pair("B", "Q2", "", false)};
    pairs.sync(feed);

    QSignalSpy changed(&cards, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&cards, &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy inserted(&cards, &QAbstractItemModel::rowsInserted);
    for (const char* piece : {"Be", "cause", " of", " it"}) {
        feed[1].answer += QLatin1String(piece);
        pairs.sync(feed);
    }
    ASSERT_EQ(changed.count(), 4);
    for (const QList<QVariant>& signal : changed) {
        EXPECT_EQ(signal.at(0).toModelIndex().row(), 1);
        EXPECT_EQ(signal.at(1).toModelIndex().row(), 1);
        const auto roles = signal.at(2).value<QList<int>>();
        EXPECT_TRUE(roles.contains(PairListModel::AnswerRole));
        EXPECT_TRUE(roles.contains(CardListModel::ShowsAnswerRole));
        EXPECT_TRUE(roles.contains(CardListModel::IsStreamingRole));
        EXPECT_FALSE(roles.contains(CardListModel::MyAnswerCountRole));
    }

    changed.clear();
    feed[0].myAnswer = QStringLiteral("my words");
    pairs.sync(feed);
    ASSERT_EQ(changed.count(), 1);
    const auto roles = changed.at(0).at(2).value<QList<int>>();
    EXPECT_TRUE(roles.contains(CardListModel::HasMyAnswerRole));
    EXPECT_TRUE(roles.contains(CardListModel::MyAnswerCountRole));
    EXPECT_TRUE(roles.contains(CardListModel::MyAnswerBodyRole));

    feed << pair("C", "Q3", "", false);
    pairs.sync(feed);
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(reset.count(), 0);
    EXPECT_FALSE(cards.isEmpty());
}

// Unfolding is kept by id, survives a new feed and touches only that card.
// The window's transcript hands the pairs it is given to its cards, and says so.
TEST(CardList, TheTranscriptPassesItsPairsOn) {
    PairListModel pairs;
    Transcript transcript;
    QSignalSpy changed(&transcript, &Transcript::pairsChanged);
    transcript.setPairs(&pairs);
    pairs.sync({pair("A", "Q1", "x", true)});
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(transcript.cards()->rowCount(), 1);
}

TEST(CardList, UnfoldedAnswersAreKeptByIdAcrossSessions) {
    PairListModel pairs;
    CardListModel cards;
    cards.setPairs(&pairs);
    pairs.sync({pair("A", "Q1", "x", true, false, QStringLiteral("mine")),
                pair("B", "Q2", "y", true, false, QStringLiteral("mine too"))});
    QSignalSpy changed(&cards, &QAbstractItemModel::dataChanged);
    cards.toggleMyAnswer(QStringLiteral("B"));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toModelIndex().row(), 1);
    EXPECT_TRUE(cards.data(cards.index(1, 0), CardListModel::IsMyAnswerShownRole).toBool());
    EXPECT_FALSE(cards.data(cards.index(0, 0), CardListModel::IsMyAnswerShownRole).toBool());

    pairs.sync({});
    EXPECT_TRUE(cards.isEmpty());
    pairs.sync({pair("B", "Q2", "y", true, false, QStringLiteral("mine too"))});
    EXPECT_TRUE(cards.isMyAnswerShown(QStringLiteral("B")));
    cards.toggleMyAnswer(QStringLiteral("B"));
    EXPECT_FALSE(cards.data(cards.index(0, 0), CardListModel::IsMyAnswerShownRole).toBool());
}

} // namespace
