#include "ui/FollowBottom.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace {

// One thing that happens to the view.
struct Step {
    enum Kind { Move, Grow, Relayout, Pill, InputStarts, NextTurn } kind;
    double offsetY = 0;
    double distance = 0;
    bool byUser = false;
};

Step move(double offsetY, double distance) {
    return {Step::Move, offsetY, distance, false};
}
Step drag(double offsetY, double distance) {
    return {Step::Move, offsetY, distance, true};
}
const Step grow{Step::Grow};
const Step relayout{Step::Relayout};
const Step dragRelayout{Step::Relayout, 0, 0, true};
const Step pill{Step::Pill};
const Step inputStarts{Step::InputStarts};
const Step nextTurn{Step::NextTurn};
constexpr double unbuilt = std::numeric_limits<double>::infinity();

struct FollowRow {
    const char* name;
    std::vector<Step> steps;
    bool following;
    bool showsPill;
    int pins;
};

class Follow : public ::testing::TestWithParam<FollowRow> {};

TEST_P(Follow, Sequence) {
    FollowBottom follow;
    QSignalSpy pins(&follow, &FollowBottom::pinRequested);
    for (const Step& step : GetParam().steps) {
        switch (step.kind) {
        case Step::Move:
            follow.setUserInput(step.byUser);
            follow.moved(step.offsetY, step.distance, step.byUser);
            break;
        case Step::InputStarts:
            follow.setUserInput(true);
            break;
        case Step::NextTurn:
            QCoreApplication::processEvents();
            break;
        case Step::Grow:
            follow.grew();
            break;
        case Step::Relayout:
            follow.setUserInput(step.byUser);
            follow.relayout();
            break;
        case Step::Pill:
            follow.pillPressed();
            break;
        }
    }
    EXPECT_EQ(follow.following(), GetParam().following);
    EXPECT_EQ(follow.showsPill(), GetParam().showsPill);
    EXPECT_EQ(pins.count(), GetParam().pins);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Follow,
    ::testing::Values(
        FollowRow{"startsFollowing", {}, true, false, 0},
        FollowRow{"streamingAtTheEndStaysThere",
                  {move(1000, 0), grow, move(1000, 15), grow, relayout},
                  true,
                  false,
                  3},
        FollowRow{
            "withinTwentyPointsStillFollows", {move(1000, 0), drag(985, 20), grow}, true, false, 1},
        FollowRow{
            "halfAPointUpDoesNotStop", {move(1000, 0), drag(999.5, 40), grow}, true, false, 1},
        FollowRow{"scrollingUpStops", {move(1000, 0), drag(970, 21)}, false, false, 0},
        FollowRow{"growthWhileUpShowsThePill",
                  {move(1000, 0), drag(900, 100), grow, relayout},
                  false,
                  true,
                  0},
        FollowRow{"pillPressFollowsAndHides",
                  {move(1000, 0), drag(900, 100), grow, pill},
                  true,
                  false,
                  1},
        FollowRow{"backToTheEndByHandHides",
                  {move(1000, 0), drag(900, 100), grow, drag(995, 5)},
                  true,
                  false,
                  0},
        FollowRow{"downButNotToTheEndKeepsThePill",
                  {move(1000, 0), drag(900, 100), grow, drag(950, 50)},
                  false,
                  true,
                  0},
        // The view re-estimating unbuilt cards moves the offset without the reader.
        FollowRow{"estimateJumpKeepsFollowing",
                  {move(1000, 0), move(-20000, unbuilt), grow},
                  true,
                  false,
                  1},
        FollowRow{"lastCardNotBuiltIsNotTheEnd",
                  {move(1000, 0), drag(500, unbuilt), grow},
                  false,
                  true,
                  0},
        // A wheel moves the view first and reports that it is moving after.
        FollowRow{"wheelMoveClaimedWhenInputStarts",
                  {move(1000, 0), move(900, 100), inputStarts, grow},
                  false,
                  true,
                  0},
        FollowRow{"earlierJumpIsNotClaimed",
                  {move(1000, 0), move(900, 100), nextTurn, inputStarts, grow},
                  true,
                  false,
                  1},
        FollowRow{
            "noRelayoutPinUnderTheReadersHand", {move(1000, 0), dragRelayout}, true, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Growth is read from the fingerprint: a new value is growth, the same value is not.
TEST(Follow, GrowthComesFromTheFingerprint) {
    FollowBottom follow;
    follow.moved(1000, 0, false);
    follow.moved(900, 100, true);
    follow.setFingerprint(QStringLiteral("1-4-0-false"));
    EXPECT_TRUE(follow.showsPill());
    follow.pillPressed();
    QSignalSpy pins(&follow, &FollowBottom::pinRequested);
    follow.setFingerprint(QStringLiteral("1-4-0-false"));
    EXPECT_EQ(pins.count(), 0);
    follow.setFingerprint(QStringLiteral("1-4-3-false"));
    EXPECT_EQ(pins.count(), 1);
}

// A reader further up hears only of something new: a dropped empty card at the end or an answer
// cleared for its rewrite changes the fingerprint but brings no pill.
TEST(FollowFingerprint, OnlyGrowthAtTheEndOffersThePill) {
    struct Row {
        const char* before;
        const char* after;
        bool pill;
    };
    for (const Row& row :
         {Row{"0", "1-12-0-false", true}, Row{"3-12-40-false", "3-12-41-false", true},
          Row{"3-12-40-false", "3-30-0-false", true}, Row{"3-12-40-false", "3-12-40-true", false},
          Row{"4-0-0-true", "3-12-40-true", false}, Row{"3-12-40-true", "3-12-0-false", false}}) {
        FollowBottom follow;
        follow.setFingerprint(QString::fromLatin1(row.before));
        follow.moved(1000, 0, false);
        follow.moved(200, 500, true); // the reader scrolled up, away from the end
        ASSERT_FALSE(follow.following());
        QSignalSpy pins(&follow, &FollowBottom::pinRequested);
        follow.setFingerprint(QString::fromLatin1(row.after));
        EXPECT_EQ(follow.showsPill(), row.pill) << row.before << " → " << row.after;
        EXPECT_EQ(pins.count(), 0);
    }
}

} // namespace
