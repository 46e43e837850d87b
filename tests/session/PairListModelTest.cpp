#include "session/PairListModel.h"
#include "session/QAFlow.h"
#include "support/FakeClock.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

// The flow drives the model as the controller wires it; the tester checks every signal.
class PairListModelTest : public ::testing::Test {
protected:
    PairListModelTest() {
        QAFlow::Hooks hooks;
        hooks.pairsChanged = [this] { model.sync(flow->pairs()); };
        flow = std::make_unique<QAFlow>(
            clock, [] { return 8.0; }, hooks);
    }

    FakeClock clock;
    PairListModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
    std::unique_ptr<QAFlow> flow;
    QSignalSpy inserted{&model, &QAbstractItemModel::rowsInserted};
    QSignalSpy removed{&model, &QAbstractItemModel::rowsRemoved};
    QSignalSpy changed{&model, &QAbstractItemModel::dataChanged};
    QSignalSpy reset{&model, &QAbstractItemModel::modelReset};
};

QList<int> rolesOf(const QList<QVariant>& signal) {
    return signal.at(2).value<QList<int>>();
}

TEST_F(PairListModelTest, AStreamIsInsertsAndSingleRowChangesNeverAReset) {
    flow->ingestTranscript(QStringLiteral("Tell me about a hard bug."));
    ASSERT_EQ(inserted.count(), 1);
    flow->ingestDelta(QStringLiteral("r1"), QString());
    EXPECT_TRUE(changed.isEmpty()) << "an announcement changes nothing a view shows";
    for (const char* piece : {"A race ", "in the ", "audio path."})
        flow->ingestDelta(QStringLiteral("r1"), QString::fromLatin1(piece));
    ASSERT_EQ(changed.count(), 3);
    for (const auto& signal : changed) {
        EXPECT_EQ(signal.at(0).toModelIndex().row(), 0);
        EXPECT_EQ(signal.at(1).toModelIndex().row(), 0);
        EXPECT_EQ(rolesOf(signal), QList<int>{PairListModel::AnswerRole});
    }
    changed.clear();
    flow->completeResponse(QStringLiteral("r1"));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(rolesOf(changed.first()), QList<int>{PairListModel::IsCompleteRole});

    flow->ingestTranscript(QStringLiteral("Why this team?"));
    ASSERT_EQ(inserted.count(), 2);
    EXPECT_EQ(inserted.last().at(1).toInt(), 1);
    EXPECT_EQ(model.data(model.index(1), PairListModel::QuestionRole).toString(),
              QStringLiteral("Why this team?"));
    EXPECT_EQ(model.data(model.index(0), PairListModel::AnswerRole).toString(),
              QStringLiteral("A race in the audio path."));
    EXPECT_EQ(reset.count(), 0);
}

TEST_F(PairListModelTest, ANoticeIsOneRowChangeOfItsRole) {
    flow->ingestTranscript(QStringLiteral("Why us?"));
    flow->ingestDelta(QStringLiteral("r1"), QStringLiteral("Because"));
    changed.clear();
    flow->endResponseShort(QStringLiteral("r1"),
                           {QStringLiteral("incomplete"), QStringLiteral("max_output_tokens"), {}});
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(rolesOf(changed.first()), QList<int>{PairListModel::NoticeRole});
    EXPECT_EQ(model.roleNames().value(PairListModel::NoticeRole), QByteArray("notice"));
}

TEST_F(PairListModelTest, ADroppedEmptyCardIsOneRemovedRowInTheMiddle) {
    flow->ingestTranscript(QStringLiteral("First?"));
    flow->ingestDelta(QStringLiteral("r1"), QStringLiteral("One."));
    flow->ingestDelta(QStringLiteral("r2"), QString()); // answers announced, no question yet
    flow->ingestDelta(QStringLiteral("r3"), QStringLiteral("Three."));
    ASSERT_EQ(model.count(), 3);
    // r2 finishes empty: its card goes, the cards around it keep their contents.
    flow->completeResponse(QStringLiteral("r2"));
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed.first().at(1).toInt(), 1);
    ASSERT_EQ(model.count(), int(flow->pairs().size()));
    for (int row = 0; row < model.count(); ++row)
        EXPECT_EQ(model.data(model.index(row), PairListModel::PairIdRole).toString(),
                  flow->pairs().at(row).id);
    EXPECT_EQ(reset.count(), 0);
}

} // namespace
