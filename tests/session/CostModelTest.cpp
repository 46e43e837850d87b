#include "session/CostModel.h"
#include "session/QAFlow.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

QJsonObject json(const char* text) {
    return QJsonDocument::fromJson(text).object();
}

TEST(CostModelTest, ParseTable) {
    struct Row {
        const char* name;
        const char* usage;
        CostModel::Usage expected;
    };
    const Row table[] = {
        {"cached share goes to audio first",
         R"({"input_token_details":{"audio_tokens":1000,"text_tokens":200,"cached_tokens":600,
             "cached_tokens_details":{}},"output_token_details":{"text_tokens":50}})",
         {400, 600, 200, 0, 50, 0}},
        {"cached beyond the audio goes to text",
         R"({"input_token_details":{"audio_tokens":1000,"text_tokens":200,"cached_tokens":1100,
             "cached_tokens_details":{}},"output_token_details":{"text_tokens":50}})",
         {0, 1000, 100, 100, 50, 0}},
        {"explicit cached details win",
         R"({"input_token_details":{"audio_tokens":500,"text_tokens":300,"cached_tokens":999,
             "cached_tokens_details":{"audio_tokens":100,"text_tokens":50}},
             "output_token_details":{"text_tokens":7,"audio_tokens":3}})",
         {400, 100, 250, 50, 7, 3}},
        {"totals only", R"({"input_tokens":120,"output_tokens":30})", {0, 0, 120, 0, 30, 0}},
        {"fractions cut toward zero, junk is zero",
         R"({"input_token_details":{"audio_tokens":10.9,"text_tokens":"5","cached_tokens":null},
             "output_token_details":[1,2]})",
         {10, 0, 0, 0, 0, 0}},
        {"nothing", R"({})", {}},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        const CostModel::Usage u = CostModel::parse(json(row.usage));
        EXPECT_EQ(u.audioInput, row.expected.audioInput);
        EXPECT_EQ(u.audioInputCached, row.expected.audioInputCached);
        EXPECT_EQ(u.textInput, row.expected.textInput);
        EXPECT_EQ(u.textInputCached, row.expected.textInputCached);
        EXPECT_EQ(u.textOutput, row.expected.textOutput);
        EXPECT_EQ(u.audioOutput, row.expected.audioOutput);
    }
}

// Counts no service would send never make a cost negative or overflow the session's totals.
TEST(CostModelTest, ImplausibleCountsAreZero) {
    struct Row {
        const char* name;
        const char* usage;
        CostModel::Usage expected;
    };
    const Row table[] = {
        {"negative totals", R"({"input_tokens":-500,"output_tokens":100})", {0, 0, 0, 0, 100, 0}},
        {"negative details",
         R"({"input_token_details":{"audio_tokens":-1000,"text_tokens":200,"cached_tokens":-50},
             "output_token_details":{"text_tokens":-7}})",
         {0, 0, 200, 0, 0, 0}},
        {"beyond a billion",
         R"({"input_token_details":{"audio_tokens":9e18,"text_tokens":1000000001},
             "output_token_details":{"text_tokens":1e300,"audio_tokens":9e18}})",
         {}},
        {"a billion is still counted",
         R"({"output_tokens":1000000000})",
         {0, 0, 0, 0, 1000000000, 0}},
        {"not numbers", R"({"input_tokens":"9","output_tokens":true,"total_tokens":null})", {}},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        const CostModel::Usage u = CostModel::parse(json(row.usage));
        EXPECT_EQ(u, row.expected);
        CostModel::Usage session{1000, 0, 0, 0, 0, 0};
        for (int i = 0; i < 1000; ++i)
            session.add(u);
        EXPECT_GE(CostModel::cost(session), 0.032);
        EXPECT_TRUE(CostModel::summary(session, 60).has_value()) << "the banner keeps the cost";
    }
}

TEST(CostModelTest, TranscriptionUsageIsPricedForItsModel) {
    struct Row {
        const char* model;
        const char* usage;
        qint64 audioIn, textIn, textOut;
        double seconds, dollars;
    };
    const char* tokens = R"({"type":"tokens","input_tokens":1200,"input_token_details":
        {"text_tokens":200,"audio_tokens":1000},"output_tokens":100,"total_tokens":1300})";
    const Row table[] = {
        {"gpt-4o-transcribe", tokens, 1000, 200, 100, 0, (6000 + 500 + 1000) / 1e6},
        {"gpt-4o-mini-transcribe-2025-12-15", tokens, 1000, 200, 100, 0, (3000 + 250 + 500) / 1e6},
        {"gpt-4o-transcribe", R"({"type":"tokens","input_tokens":300,"output_tokens":20})", 300, 0,
         20, 0, (1800 + 200) / 1e6},
        {"whisper-1", R"({"type":"duration","seconds":30})", 0, 0, 0, 30, 0.003},
        {"some-new-transcriber", tokens, 1000, 200, 100, 0, 0},
        {"gpt-4o-transcribe", R"({"type":"tokens","input_tokens":-5,"output_tokens":1e12})", 0, 0,
         0, 0, 0},
        {"whisper-1", R"({"type":"duration","seconds":-30})", 0, 0, 0, 0, 0},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(std::string(row.model) + " " + row.usage);
        const CostModel::Usage u =
            CostModel::parseTranscription(json(row.usage), QString::fromLatin1(row.model));
        EXPECT_EQ(u.transcriptionAudioInput, row.audioIn);
        EXPECT_EQ(u.transcriptionTextInput, row.textIn);
        EXPECT_EQ(u.transcriptionTextOutput, row.textOut);
        EXPECT_DOUBLE_EQ(u.transcriptionSeconds, row.seconds);
        EXPECT_DOUBLE_EQ(CostModel::cost(u), row.dollars);
        EXPECT_EQ(u.total(), row.audioIn + row.textIn + row.textOut);
    }
    const CostModel::Usage minute = CostModel::parseTranscription(
        json(R"({"type":"duration","seconds":60})"), QStringLiteral("whisper-1"));
    EXPECT_EQ(CostModel::summary(minute, 60),
              QStringLiteral("$0.0060 this session · $0.0060/min · 0 tokens"))
        << "a duration-billed session still shows its cost";
}

TEST(CostModelTest, PricesPerMillionTokens) {
    EXPECT_DOUBLE_EQ(CostModel::cost({1000000, 0, 0, 0, 0, 0}), 32.0);
    EXPECT_DOUBLE_EQ(CostModel::cost({0, 1000000, 0, 1000000, 0, 0}), 0.8);
    EXPECT_DOUBLE_EQ(CostModel::cost({0, 0, 1000000, 0, 0, 0}), 4.0);
    EXPECT_DOUBLE_EQ(CostModel::cost({0, 0, 0, 0, 500000, 500000}), 16.0);
}

TEST(CostModelTest, AmountsAndSummary) {
    EXPECT_EQ(CostModel::amount(0.004), QStringLiteral("$0.0040"));
    EXPECT_EQ(CostModel::amount(0.01), QStringLiteral("$0.01"));
    EXPECT_EQ(CostModel::amount(1.234), QStringLiteral("$1.23"));

    const CostModel::Usage u{1000, 0, 500, 0, 250, 0}; // $0.032 + $0.002 + $0.004 = $0.038
    EXPECT_EQ(CostModel::summary(u, 30.0),
              QStringLiteral("$0.04 this session · $0.08/min · 1750 tokens"));
    EXPECT_EQ(CostModel::summary(u, 0.5), // under a second: one second's worth of minutes
              QStringLiteral("$0.04 this session · $2.28/min · 1750 tokens"));
    EXPECT_FALSE(CostModel::summary({}, 30.0).has_value());
    EXPECT_FALSE(CostModel::summary(u, 0.0).has_value());
}

TEST(RoundingTest, HalvesAwayFromZero) {
    EXPECT_DOUBLE_EQ(roundTo(0.0625, 3), 0.063);
    EXPECT_DOUBLE_EQ(roundTo(-0.0625, 3), -0.063);
    EXPECT_DOUBLE_EQ(roundTo(2.5, 0), 3.0);
    EXPECT_DOUBLE_EQ(roundTo(0.123449, 5), 0.12345);
    EXPECT_DOUBLE_EQ(roundTo(12.34, 1), 12.3);
}

} // namespace
