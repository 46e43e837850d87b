#include "realtime/HistorySeeding.h"

#include <gtest/gtest.h>

namespace {

using Pair = HistorySeeding::Pair;

Pair pair(int questionLength, int answerLength, QChar fill = u'x') {
    return {QString(questionLength, fill), QString(answerLength, fill)};
}

TEST(HistorySeedingTest, CountsGraphemesNotCodeUnits) {
    EXPECT_EQ(HistorySeeding::graphemeCount(QString()), 0);
    EXPECT_EQ(HistorySeeding::graphemeCount(QStringLiteral("abc")), 3);
    // A family emoji (7 code points, 11 UTF-16 units) and an e with a combining accent.
    EXPECT_EQ(HistorySeeding::graphemeCount(QStringLiteral("👨‍👩‍👧‍👦e\u0301")), 2);
    EXPECT_EQ(HistorySeeding::graphemeCount(QStringLiteral("🇩🇪")), 1);
}

TEST(HistorySeedingTest, TakesOnlyTheNewestTwelveOldestFirst) {
    QList<Pair> history;
    for (int i = 1; i <= 13; ++i)
        history.append({QStringLiteral("Q%1").arg(i), QStringLiteral("A%1").arg(i)});
    const QList<Pair> taken = HistorySeeding::select(history);
    ASSERT_EQ(taken.size(), 12);
    EXPECT_EQ(taken.first().question, QStringLiteral("Q2"));
    EXPECT_EQ(taken.last().question, QStringLiteral("Q13"));
}

struct BudgetCase {
    const char* name;
    QList<Pair> history;
    int expectedTaken; // newest pairs taken
};

class BudgetTest : public ::testing::TestWithParam<BudgetCase> {};

TEST_P(BudgetTest, StopsAtThePairThatDoesNotFit) {
    const BudgetCase& c = GetParam();
    const QList<Pair> taken = HistorySeeding::select(c.history);
    ASSERT_EQ(taken.size(), c.expectedTaken);
    EXPECT_EQ(taken, c.history.mid(c.history.size() - c.expectedTaken));
}

INSTANTIATE_TEST_SUITE_P(
    Budgets, BudgetTest,
    ::testing::Values(
        BudgetCase{"empty", {}, 0}, BudgetCase{"allFit", {pair(10, 10), pair(3000, 4000)}, 2},
        // 8000 − 7000 = 1000 left; a pair costing exactly 1000 is not taken, nor anything older.
        BudgetCase{"exactBudgetLeft", {pair(1, 1), pair(500, 500), pair(3000, 4000)}, 1},
        BudgetCase{"oneUnderBudgetLeft", {pair(500, 499), pair(3000, 4000)}, 2},
        BudgetCase{"newestTooLarge", {pair(5, 5), pair(4000, 4000)}, 0},
        BudgetCase{"newestOverBudget", {pair(5, 5), pair(9000, 0)}, 0},
        BudgetCase{"justUnder", {pair(7999, 0)}, 1},
        BudgetCase{"emptyAnswerCounts", {pair(10, 0)}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HistorySeedingTest, BudgetIsInGraphemes) {
    // 4000 emoji are 8000 UTF-16 units but only 4000 characters: they fit.
    const QString emoji = QStringLiteral("😀").repeated(4000);
    const QList<Pair> taken = HistorySeeding::select({{emoji, QString()}});
    EXPECT_EQ(taken.size(), 1);
}

} // namespace
