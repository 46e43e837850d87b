#include "settings/Interviewer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

TEST(InterviewerTest, LabelTable) {
    struct Row {
        QString name, title;
        int index;
        QString label;
    };
    const Row table[] = {
        {"Ann", "CTO", 0, "Ann — CTO"},  {"  Ann\t", " \tCTO ", 0, "Ann — CTO"},
        {"Ann", "  ", 0, "Ann"},         {"", "Head of Talent", 1, "Head of Talent"},
        {" ", "\t", 0, "Interviewer 1"}, {"", "", 1, "Interviewer 2"},
        {"Ann\n", "", 0, "Ann\n"}, // line breaks are not trimmed
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.label.toStdString());
        EXPECT_EQ((Interviewer{QUuid::createUuid(), row.name, row.title}.label(row.index)),
                  row.label);
    }
}

TEST(InterviewerTest, JsonHasExactlyTheThreeKeysAndRoundTrips) {
    const Interviewer ann{QUuid(QStringLiteral("{3f2504e0-4f89-11d3-9a0c-0305e82c3301}")),
                          QStringLiteral("Ann"), QStringLiteral("CTO")};
    const QByteArray data = encodePanel({ann, Interviewer::blank()});
    const QJsonArray array = QJsonDocument::fromJson(data).array();
    ASSERT_EQ(array.size(), 2);
    EXPECT_EQ(array[0].toObject().keys(),
              (QStringList{QStringLiteral("id"), QStringLiteral("name"), QStringLiteral("title")}));
    EXPECT_EQ(array[0][QStringLiteral("id")].toString(),
              QStringLiteral("3F2504E0-4F89-11D3-9A0C-0305E82C3301"));
    const auto decoded = decodePanel(data);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->first(), ann);
}

TEST(InterviewerTest, DecodingRejectsMalformedPanels) {
    const char* table[] = {
        "",
        "{}",
        "[1]",
        R"([{"id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301","name":"A"}])",
        R"([{"id":"not-a-uuid","name":"A","title":"B"}])",
        R"([{"id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301","name":1,"title":"B"}])",
    };
    for (const char* data : table)
        EXPECT_FALSE(decodePanel(data).has_value()) << data;
    EXPECT_TRUE(decodePanel("[]").has_value());
    EXPECT_TRUE(
        decodePanel(R"([{"id":"00000000-0000-0000-0000-000000000000","name":"","title":""}])"));
}

} // namespace
