#include "session/CostModel.h"
#include "session/QAFlow.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

QJsonObject json(const char* text) {
    return QJsonDocument::fromJson(text).object();
}

const QString kModel = QStringLiteral("gpt-realtime-2.1");

// One answer as the service reports it: 2800 text tokens in, 2400 of them cached, 400 of audio
// none cached (an explicit 0), 100 text tokens out.
const char* const kAnswer =
    R"({"input_tokens":3200,"output_tokens":100,"input_token_details":{"text_tokens":2800,
        "audio_tokens":400,"image_tokens":0,"cached_tokens":2400,"cached_tokens_details":
        {"text_tokens":2400,"audio_tokens":0,"image_tokens":0}},
        "output_token_details":{"text_tokens":100,"audio_tokens":0}})";
// Millions of every kind, a different number each: audio in 1 (and 2 cached), text in 3 (and 4
// cached), text out 5, audio out 6, images in 7 (and 8 cached).
const char* const kEveryKind =
    R"({"input_token_details":{"audio_tokens":3e6,"text_tokens":7e6,"image_tokens":15e6,
        "cached_tokens_details":{"audio_tokens":2e6,"text_tokens":4e6,"image_tokens":8e6}},
        "output_token_details":{"text_tokens":5e6,"audio_tokens":6e6}})";

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
        {"an explicit 0 of cached audio is 0", kAnswer, {400, 0, 400, 2400, 100, 0}},
        {"an explicit 0 of cached text is 0",
         R"({"input_token_details":{"audio_tokens":1000,"text_tokens":200,"cached_tokens":1100,
             "cached_tokens_details":{"text_tokens":0}}})",
         {0, 1000, 200, 0, 0, 0}},
        {"every kind",
         kEveryKind,
         {1000000, 2000000, 3000000, 4000000, 5000000, 6000000, 7000000, 8000000}},
        {"cached images are not text",
         R"({"input_token_details":{"text_tokens":100,"image_tokens":500,"cached_tokens":300,
             "cached_tokens_details":{"image_tokens":200}}})",
         {0, 0, 0, 100, 0, 0, 300, 200}},
        {"totals only", R"({"input_tokens":120,"output_tokens":30})", {0, 0, 120, 0, 30, 0}},
        {"fractions cut toward zero, junk is zero",
         R"({"input_token_details":{"audio_tokens":10.9,"text_tokens":"5","cached_tokens":null},
             "output_token_details":[1,2]})",
         {10, 0, 0, 0, 0, 0}},
        {"nothing", R"({})", {}},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(CostModel::parse(json(row.usage)), row.expected);
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
        EXPECT_GE(CostModel::cost(session, kModel).value_or(-1), 0.032);
        EXPECT_TRUE(CostModel::summary(session, kModel, 60).has_value())
            << "the banner keeps the cost";
    }
}

TEST(CostModelTest, TranscriptionUsageIsPricedForItsModel) {
    struct Row {
        const char* model;
        const char* usage;
        qint64 audioIn, textIn, textOut;
        double seconds;
        std::optional<double> dollars;
        const char* noPrice = nullptr;
    };
    const char* tokens = R"({"type":"tokens","input_tokens":1200,"input_token_details":
        {"text_tokens":200,"audio_tokens":1000},"output_tokens":100,"total_tokens":1300})";
    const Row table[] = {
        {"gpt-4o-transcribe", tokens, 1000, 200, 100, 0, (6000 + 500 + 1000) / 1e6},
        {"gpt-4o-mini-transcribe-2025-12-15", tokens, 1000, 200, 100, 0, (3000 + 250 + 500) / 1e6},
        {"gpt-4o-transcribe", R"({"type":"tokens","input_tokens":300,"output_tokens":20})", 300, 0,
         20, 0, (1800 + 200) / 1e6},
        {"whisper-1", R"({"type":"duration","seconds":30})", 0, 0, 0, 30, 0.003},
        {"gpt-live-transcribe", R"({"type":"duration","seconds":3})", 0, 0, 0, 3, 0.00085},
        {"gpt-realtime-whisper", R"({"type":"duration","seconds":60})", 0, 0, 0, 60, 0.017},
        {"gpt-transcribe", R"({"type":"duration","seconds":60})", 0, 0, 0, 60, 0.0045},
        {"gpt-live-transcribe", tokens, 1000, 200, 100, 0, std::nullopt,
         "this model is billed by the minute, not by the token"},
        {"gpt-4o-transcribe", R"({"type":"duration","seconds":30})", 0, 0, 0, 30, std::nullopt,
         "this model is billed by the token, not by the minute"},
        {"some-new-transcriber", tokens, 1000, 200, 100, 0, std::nullopt,
         "no price is known for this model"},
        {"gpt-4o-transcribe", R"({"type":"tokens","input_tokens":-5,"output_tokens":1e12})", 0, 0,
         0, 0, 0.0},
        {"whisper-1", R"({"type":"duration","seconds":-30})", 0, 0, 0, 0, 0.0},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(std::string(row.model) + " " + row.usage);
        const QString model = QString::fromLatin1(row.model);
        const CostModel::Usage u = CostModel::parseTranscription(json(row.usage), model);
        EXPECT_EQ(u.transcriptionAudioInput, row.audioIn);
        EXPECT_EQ(u.transcriptionTextInput, row.textIn);
        EXPECT_EQ(u.transcriptionTextOutput, row.textOut);
        EXPECT_DOUBLE_EQ(u.transcriptionSeconds, row.seconds);
        EXPECT_NEAR(u.transcriptionCost.value_or(-1), row.dollars.value_or(-1), 1e-12);
        if (row.noPrice) {
            EXPECT_EQ(CostModel::noTranscriptionPriceReason(model), QString::fromUtf8(row.noPrice));
        }
        EXPECT_EQ(u.total(), row.audioIn + row.textIn + row.textOut);
    }
    const CostModel::Usage minute = CostModel::parseTranscription(
        json(R"({"type":"duration","seconds":60})"), QStringLiteral("whisper-1"));
    EXPECT_EQ(CostModel::summary(minute, kModel, 60),
              QStringLiteral("$0.0060 this session · $0.0060/min · 0 tokens"))
        << "a duration-billed session still shows its cost";
}

// A response and a transcription, added up as the session does and priced for their models.
TEST(CostModelTest, CostTable) {
    struct Row {
        const char* model;
        const char* usage;
        const char* transcribeModel;
        const char* transcription;
        std::optional<double> dollars;
        const char* noPrice = nullptr;
    };
    const char* const live = "gpt-live-transcribe";
    const char* const threeSeconds = R"({"type":"duration","seconds":3})";
    const char* const none = "{}";
    const Row table[] = {
        // The bill from the field: the answer above and 3 s of transcription.
        {"gpt-realtime-2.1", kAnswer, live, threeSeconds, 0.01776 + 0.00085},
        {"gpt-realtime-2.1", kEveryKind, live, none,
         32 * 1 + 0.4 * 2 + 4 * 3 + 0.4 * 4 + 24 * 5 + 64 * 6 + 5 * 7 + 0.5 * 8},
        {"gpt-realtime-2", kEveryKind, live, none,
         32 * 1 + 0.4 * 2 + 4 * 3 + 0.4 * 4 + 24 * 5 + 64 * 6 + 5 * 7 + 0.5 * 8},
        {"gpt-realtime-2.1-mini", kEveryKind, live, none,
         10 * 1 + 0.3 * 2 + 0.6 * 3 + 0.06 * 4 + 2.4 * 5 + 20 * 6 + 0.8 * 7 + 0.08 * 8},
        {"gpt-realtime-2.1-mini-2026-10-01", kEveryKind, live, none,
         10 * 1 + 0.3 * 2 + 0.6 * 3 + 0.06 * 4 + 2.4 * 5 + 20 * 6 + 0.8 * 7 + 0.08 * 8},
        {"gpt-realtime-2.1-preview", kAnswer, live, none, 0.01776},
        {"gpt-realtime-2.5", kAnswer, live, none, std::nullopt, "no price is known for this model"},
        {"gpt-realtime-1.5", kAnswer, live, none, (12800 + 1600 + 960 + 1600) / 1e6},
        {"gpt-realtime-1.5", kEveryKind, live, none, std::nullopt,
         "no price is known for this model's images"},
        {"gpt-4o-realtime-preview", kAnswer, live, threeSeconds, std::nullopt,
         "no price is known for this model"},
        {"gpt-4o-realtime-preview", none, live, threeSeconds, 0.00085},
        {"gpt-realtime-2.1", kAnswer, "some-new-transcriber", threeSeconds, std::nullopt},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(std::string(row.model) + " " + row.usage + " " + row.transcription);
        const QString model = QString::fromLatin1(row.model);
        CostModel::Usage session;
        session.add(CostModel::parse(json(row.usage)));
        session.add(CostModel::parseTranscription(json(row.transcription),
                                                  QString::fromLatin1(row.transcribeModel)));
        EXPECT_NEAR(CostModel::cost(session, model).value_or(-1), row.dollars.value_or(-1), 1e-9);
        if (row.noPrice) {
            EXPECT_EQ(CostModel::noPriceReason(model), QString::fromUtf8(row.noPrice));
        }
    }
}

TEST(CostModelTest, AmountsAndSummary) {
    EXPECT_EQ(CostModel::amount(0.004), QStringLiteral("$0.0040"));
    EXPECT_EQ(CostModel::amount(0.01), QStringLiteral("$0.01"));
    EXPECT_EQ(CostModel::amount(1.234), QStringLiteral("$1.23"));

    const CostModel::Usage u{1000, 0, 500, 0, 250, 0}; // $0.032 + $0.002 + $0.006 = $0.040
    EXPECT_EQ(CostModel::summary(u, kModel, 30.0),
              QStringLiteral("$0.04 this session · $0.08/min · 1750 tokens"));
    EXPECT_EQ(CostModel::summary(u, kModel, 0.5), // under a second: one second's worth of minutes
              QStringLiteral("$0.04 this session · $2.40/min · 1750 tokens"));
    EXPECT_EQ(CostModel::summary(CostModel::parse(json(kEveryKind)),
                                 QStringLiteral("gpt-4o-realtime-preview"), 30.0),
              QStringLiteral("— this session · —/min · 36000000 tokens"));
    EXPECT_FALSE(CostModel::summary({}, kModel, 30.0).has_value());
    EXPECT_FALSE(CostModel::summary(u, kModel, 0.0).has_value());
}

TEST(RoundingTest, HalvesAwayFromZero) {
    EXPECT_DOUBLE_EQ(roundTo(0.0625, 3), 0.063);
    EXPECT_DOUBLE_EQ(roundTo(-0.0625, 3), -0.063);
    EXPECT_DOUBLE_EQ(roundTo(2.5, 0), 3.0);
    EXPECT_DOUBLE_EQ(roundTo(0.123449, 5), 0.12345);
    EXPECT_DOUBLE_EQ(roundTo(12.34, 1), 12.3);
}

} // namespace
