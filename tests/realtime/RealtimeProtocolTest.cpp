#include "realtime/RealtimeProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QUuid>
#include <gtest/gtest.h>

namespace {

using RealtimeProtocol::ErrorAction;
using RealtimeProtocol::ServerEvent;
using Kind = RealtimeProtocol::ServerEvent::Kind;

QJsonObject json(const char* text) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    return document.object();
}

RealtimeProtocol::Config sampleConfig() {
    RealtimeProtocol::Config config;
    config.apiKey = QStringLiteral("sk-test");
    config.model = QStringLiteral("gpt-realtime");
    config.transcribeModel = QStringLiteral("gpt-4o-mini-transcribe");
    config.instructions = QStringLiteral("Answer briefly.\n\"Quoted\"");
    config.vadThreshold = 0.42;
    config.prefixPaddingMs = 300;
    config.silenceDurationMs = 650;
    return config;
}

ServerEvent decode(const char* text) {
    return RealtimeProtocol::decode(QByteArray(text));
}

TEST(RealtimeProtocolTest, CurrentSessionShapeIsExact) {
    EXPECT_EQ(RealtimeProtocol::sessionUpdate(sampleConfig(), false), json(R"({
        "type": "session.update",
        "session": {
            "type": "realtime",
            "model": "gpt-realtime",
            "output_modalities": ["text"],
            "instructions": "Answer briefly.\n\"Quoted\"",
            "audio": {"input": {
                "format": {"type": "audio/pcm", "rate": 24000},
                "turn_detection": {"type": "server_vad", "threshold": 0.42,
                    "prefix_padding_ms": 300, "silence_duration_ms": 650,
                    "create_response": true, "interrupt_response": false},
                "transcription": {"model": "gpt-4o-mini-transcribe"}}}}})"));
}

TEST(RealtimeProtocolTest, AReasoningEffortGoesOnlyWhereOneIsGiven) {
    RealtimeProtocol::Config config = sampleConfig();
    const auto session = [&] {
        return RealtimeProtocol::sessionUpdate(config, false).value("session").toObject();
    };
    EXPECT_FALSE(session().contains("reasoning"));
    config.reasoningEffort = QStringLiteral("minimal");
    EXPECT_EQ(session().value("reasoning"), json(R"({"effort": "minimal"})"));
    EXPECT_FALSE(RealtimeProtocol::sessionUpdate(config, true)
                     .value("session")
                     .toObject()
                     .contains("reasoning"));
}

TEST(RealtimeProtocolTest, LegacySessionShapeIsExact) {
    EXPECT_EQ(RealtimeProtocol::sessionUpdate(sampleConfig(), true), json(R"({
        "type": "session.update",
        "session": {
            "modalities": ["text"],
            "instructions": "Answer briefly.\n\"Quoted\"",
            "input_audio_format": "pcm16",
            "input_audio_transcription": {"model": "gpt-4o-mini-transcribe"},
            "turn_detection": {"type": "server_vad", "threshold": 0.42,
                "prefix_padding_ms": 300, "silence_duration_ms": 650,
                "create_response": true, "interrupt_response": false}}})"));
}

TEST(RealtimeProtocolTest, SerialisesCompactlyWithIntegersAsIntegers) {
    const QString text =
        RealtimeProtocol::serialize(RealtimeProtocol::sessionUpdate(sampleConfig(), false));
    EXPECT_FALSE(text.contains(u'\n'));
    EXPECT_FALSE(text.contains(QStringLiteral(": ")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"rate\":24000,")) ||
                text.contains(QStringLiteral("\"rate\":24000}")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"prefix_padding_ms\":300")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"silence_duration_ms\":650")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"threshold\":0.42")));
}

TEST(RealtimeProtocolTest, AudioAppendCarriesStandardBase64OfTheRawBytes) {
    // 0xFB 0xFF 0x3E: bytes that need '+' and '/' in standard Base64.
    const QByteArray pcm = QByteArray::fromHex("fbff3e0001807fff");
    EXPECT_EQ(RealtimeProtocol::audioAppend(pcm),
              json(R"({"type": "input_audio_buffer.append", "audio": "+/8+AAGAf/8="})"));
    const QByteArray large(4800 * 3, '\x7f');
    const QString encoded =
        RealtimeProtocol::audioAppend(large).value(QStringLiteral("audio")).toString();
    EXPECT_FALSE(encoded.contains(u'\n'));
    EXPECT_EQ(QByteArray::fromBase64(encoded.toLatin1()), large);
}

TEST(RealtimeProtocolTest, ItemsAndResponseControlMessagesAreExact) {
    EXPECT_EQ(RealtimeProtocol::userText(QStringLiteral("Why Rust?")), json(R"({
        "type": "conversation.item.create",
        "item": {"type": "message", "role": "user",
                 "content": [{"type": "input_text", "text": "Why Rust?"}]}})"));
    EXPECT_EQ(
        RealtimeProtocol::assistantText(QStringLiteral("Safety."), QStringLiteral("output_text")),
        json(R"({
        "type": "conversation.item.create",
        "item": {"type": "message", "role": "assistant",
                 "content": [{"type": "output_text", "text": "Safety."}]}})"));
    EXPECT_EQ(RealtimeProtocol::assistantText(QStringLiteral("Safety."), QStringLiteral("text"))
                  .value(QStringLiteral("item"))
                  .toObject()
                  .value(QStringLiteral("content"))
                  .toArray()
                  .at(0)
                  .toObject()
                  .value(QStringLiteral("type")),
              QJsonValue(QStringLiteral("text")));
    EXPECT_EQ(RealtimeProtocol::userTextWithImage(QStringLiteral("What is this?"), "\xff\xd8"),
              json(R"({
        "type": "conversation.item.create",
        "item": {"type": "message", "role": "user",
                 "content": [{"type": "input_text", "text": "What is this?"},
                             {"type": "input_image", "image_url": "data:image/jpeg;base64,/9g="}]}})"));
    EXPECT_EQ(RealtimeProtocol::responseCancel(), json(R"({"type": "response.cancel"})"));
    EXPECT_EQ(RealtimeProtocol::responseCreate(), json(R"({"type": "response.create"})"));
}

struct DecodeCase {
    const char* name;
    const char* frame;
    Kind kind;
    const char* id;
    const char* text;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, DecodesToTheExpectedEvent) {
    const DecodeCase& c = GetParam();
    const ServerEvent event = decode(c.frame);
    EXPECT_EQ(event.kind, c.kind);
    EXPECT_EQ(event.id, QString::fromUtf8(c.id));
    EXPECT_EQ(event.text, QString::fromUtf8(c.text));
}

INSTANTIATE_TEST_SUITE_P(
    Events, DecodeTest,
    ::testing::Values(
        DecodeCase{"created", R"({"type":"session.created","session":{}})", Kind::sessionCreated,
                   "", ""},
        DecodeCase{"updated", R"({"type":"session.updated"})", Kind::sessionUpdated, "", ""},
        DecodeCase{
            "transcript",
            R"({"type":"conversation.item.input_audio_transcription.completed","item_id":"it_1","transcript":"  Tell me about you.\n"})",
            Kind::transcript, "it_1", "Tell me about you."},
        DecodeCase{
            "blankTranscript",
            R"({"type":"conversation.item.input_audio_transcription.completed","item_id":"it_1","transcript":" \n \n"})",
            Kind::transcript, "it_1", ""},
        DecodeCase{
            "transcriptNotString",
            R"({"type":"conversation.item.input_audio_transcription.completed","item_id":"it_1","transcript":5})",
            Kind::transcript, "it_1", ""},
        DecodeCase{
            "transcriptionFailed",
            R"({"type":"conversation.item.input_audio_transcription.failed","item_id":"it_2","content_index":0,"error":{"type":"transcription_error","code":"audio_unintelligible","message":"Audio could not be transcribed."}})",
            Kind::transcriptionFailed, "it_2", "Audio could not be transcribed."},
        DecodeCase{"transcriptionFailedBare",
                   R"({"type":"conversation.item.input_audio_transcription.failed"})",
                   Kind::transcriptionFailed, "", "transcription failed"},
        DecodeCase{"responseCreated", R"({"type":"response.created","response":{"id":"resp_9"}})",
                   Kind::responseCreated, "resp_9", ""},
        DecodeCase{"responseCreatedNoId", R"({"type":"response.created","response":{}})",
                   Kind::ignored, "", ""},
        DecodeCase{"responseCreatedNoResponse", R"({"type":"response.created"})", Kind::ignored, "",
                   ""},
        DecodeCase{"outputTextDelta",
                   R"({"type":"response.output_text.delta","response_id":"r1","delta":"Hel"})",
                   Kind::delta, "r1", "Hel"},
        DecodeCase{"legacyTextDelta",
                   R"({"type":"response.text.delta","response_id":"r1","delta":"lo"})", Kind::delta,
                   "r1", "lo"},
        DecodeCase{"deltaWithoutResponse", R"({"type":"response.output_text.delta","delta":"x"})",
                   Kind::strayDelta, "", "x"},
        DecodeCase{"deltaResponseIdNotString",
                   R"({"type":"response.text.delta","response_id":7,"delta":"x"})",
                   Kind::strayDelta, "", "x"},
        DecodeCase{"emptyDelta",
                   R"({"type":"response.output_text.delta","response_id":"r1","delta":""})",
                   Kind::ignored, "", ""},
        DecodeCase{"missingDelta", R"({"type":"response.output_text.delta","response_id":"r1"})",
                   Kind::ignored, "", ""},
        DecodeCase{"done", R"({"type":"response.done","response":{"id":"r1"}})", Kind::responseDone,
                   "r1", ""},
        DecodeCase{"doneWithoutResponse", R"({"type":"response.done"})", Kind::responseDone,
                   "current", ""},
        DecodeCase{"doneWithoutId", R"({"type":"response.done","response":{"status":"completed"}})",
                   Kind::responseDone, "current", ""},
        DecodeCase{"error",
                   R"({"type":"error","error":{"message":"Unknown parameter: 'session.type'."}})",
                   Kind::error, "", "Unknown parameter: 'session.type'."},
        DecodeCase{"errorWithoutMessage", R"({"type":"error","error":{}})", Kind::error, "",
                   "unknown realtime error"},
        DecodeCase{"errorWithoutObject", R"({"type":"error"})", Kind::error, "",
                   "unknown realtime error"},
        DecodeCase{"unknownType", R"({"type":"rate_limits.updated"})", Kind::ignored, "", ""},
        DecodeCase{"typeNotString", R"({"type":3})", Kind::ignored, "", ""},
        DecodeCase{"noType", R"({"event":"session.updated"})", Kind::ignored, "", ""},
        DecodeCase{"array", R"(["session.updated"])", Kind::ignored, "", ""},
        DecodeCase{"notJson", "session.updated", Kind::ignored, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RealtimeProtocolTest, TranscriptWithoutItemIdGetsAFreshUuidEachTime) {
    QSet<QString> ids;
    for (
        const char* frame :
        {R"({"type":"conversation.item.input_audio_transcription.completed","transcript":"Hi"})",
         R"({"type":"conversation.item.input_audio_transcription.completed","transcript":"Hi"})",
         R"({"type":"conversation.item.input_audio_transcription.completed","item_id":4,"transcript":"Hi"})"}) {
        const ServerEvent event = decode(frame);
        ASSERT_EQ(event.kind, Kind::transcript);
        EXPECT_FALSE(QUuid::fromString(event.id).isNull()) << event.id.toStdString();
        ids.insert(event.id);
    }
    EXPECT_EQ(ids.size(), 3);
}

TEST(RealtimeProtocolTest, ResponseDoneCarriesUsageOnlyWhenPresent) {
    const ServerEvent withUsage = decode(
        R"({"type":"response.done","response":{"id":"r1","usage":{"total_tokens":12,"input_token_details":{"audio_tokens":3}}}})");
    ASSERT_TRUE(withUsage.usage.has_value());
    EXPECT_EQ(*withUsage.usage,
              json(R"({"total_tokens":12,"input_token_details":{"audio_tokens":3}})"));
    EXPECT_FALSE(decode(R"({"type":"response.done","response":{"id":"r1","usage":7}})").usage);
    EXPECT_FALSE(decode(R"({"type":"response.done"})").usage);
}

TEST(RealtimeProtocolTest, ResponseDoneAndErrorsSayWhyTheyStoppedShort) {
    struct Row {
        const char* frame;
        const char* status;
        const char* reason;
        const char* text;
    };
    const Row table[] = {
        {R"({"type":"response.done","response":{"id":"r1","status":"completed"}})", "", "", ""},
        {R"({"type":"response.done","response":{"id":"r1","status":"failed","status_details":{"type":"failed","error":{"type":"insufficient_quota","code":"insufficient_quota","message":"You exceeded your current quota."}}}})",
         "failed", "insufficient_quota", "You exceeded your current quota."},
        {R"({"type":"response.done","response":{"id":"r1","status":"failed","status_details":{"type":"failed","error":{"type":"rate_limit_exceeded","message":"Slow down."}}}})",
         "failed", "rate_limit_exceeded", "Slow down."},
        {R"({"type":"response.done","response":{"id":"r1","status":"incomplete","status_details":{"type":"incomplete","reason":"max_output_tokens"}}})",
         "incomplete", "max_output_tokens", ""},
        {R"({"type":"response.done","response":{"id":"r1","status":"incomplete","status_details":{"type":"incomplete","reason":"content_filter"}}})",
         "incomplete", "content_filter", ""},
        {R"({"type":"response.done","response":{"id":"r1","status":"cancelled","status_details":{"type":"cancelled","reason":"client_cancelled"}}})",
         "cancelled", "client_cancelled", ""},
        {R"({"type":"response.done","response":{"id":"r1","status":"failed"}})", "failed", "", ""},
        {R"({"type":"error","error":{"type":"invalid_request_error","code":"invalid_api_key","message":"Incorrect API key provided."}})",
         "", "invalid_api_key", "Incorrect API key provided."},
        {R"({"type":"error","error":{"type":"insufficient_quota","message":"You exceeded your current quota."}})",
         "", "insufficient_quota", "You exceeded your current quota."},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.frame);
        const ServerEvent event = decode(row.frame);
        EXPECT_EQ(event.status, QString::fromUtf8(row.status));
        EXPECT_EQ(event.reason, QString::fromUtf8(row.reason));
        EXPECT_EQ(event.text, QString::fromUtf8(row.text));
    }
}

TEST(RealtimeProtocolTest, TranscriptCarriesItsUsageEvenWhenEmpty) {
    const char* usage =
        R"({"type":"tokens","input_tokens":14,"input_token_details":{"text_tokens":0,"audio_tokens":14},"output_tokens":3,"total_tokens":17})";
    struct Row {
        const char* frame;
        Kind kind;
        const char* text;
        bool hasUsage;
    };
    const Row table[] = {
        {R"({"type":"conversation.item.input_audio_transcription.completed","item_id":"i1","transcript":"Hi.","usage":%1})",
         Kind::transcript, "Hi.", true},
        {R"({"type":"conversation.item.input_audio_transcription.completed","item_id":"i1","transcript":" ","usage":%1})",
         Kind::transcript, "", true},
        {R"({"type":"conversation.item.input_audio_transcription.completed","item_id":"i1","transcript":"Hi.","usage":5})",
         Kind::transcript, "Hi.", false},
        {R"({"type":"conversation.item.input_audio_transcription.completed","item_id":"i1","transcript":"","usage":"x"})",
         Kind::transcript, "", false},
    };
    for (const Row& row : table) {
        const QString frame = QString::fromUtf8(row.frame).arg(QString::fromUtf8(usage));
        SCOPED_TRACE(frame.toStdString());
        const ServerEvent event = RealtimeProtocol::decode(frame.toUtf8());
        EXPECT_EQ(event.kind, row.kind);
        EXPECT_EQ(event.text, QString::fromUtf8(row.text));
        EXPECT_EQ(event.usage.has_value(), row.hasUsage);
        if (event.usage) {
            EXPECT_EQ(*event.usage, json(usage));
        }
    }
}

TEST(RealtimeProtocolTest, InvalidUtf8IsReadWithReplacementCharacters) {
    const QByteArray frame =
        QString::fromUtf8(
            QByteArray("{\"type\":\"response.text.delta\",\"response_id\":\"r\",\"delta\":\"a\xff"
                       "b\"}"))
            .toUtf8();
    const ServerEvent event = RealtimeProtocol::decode(frame);
    EXPECT_EQ(event.kind, Kind::delta);
    EXPECT_EQ(event.text, QStringLiteral("a\uFFFDb"));
}

struct ErrorCase {
    const char* name;
    const char* message;
    bool isConfigured;
    bool usedLegacy;
    const char* contentType;
    ErrorAction action;
};

class ClassifyErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ClassifyErrorTest, ChoosesTheFallback) {
    const ErrorCase& c = GetParam();
    EXPECT_EQ(RealtimeProtocol::classifyError(QString::fromUtf8(c.message), c.isConfigured,
                                              c.usedLegacy, QString::fromUtf8(c.contentType)),
              c.action);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ClassifyErrorTest,
    ::testing::Values(ErrorCase{"unknownParameterCapitalised", "Unknown parameter: 'session.type'.",
                                false, false, "output_text", ErrorAction::legacyShapeFallback},
                      ErrorCase{"invalidValue", "invalid_value for session", false, false,
                                "output_text", ErrorAction::legacyShapeFallback},
                      ErrorCase{"additionalProperties", "Additional properties are not allowed",
                                false, false, "output_text", ErrorAction::legacyShapeFallback},
                      ErrorCase{"alreadyLegacy", "Unknown parameter: 'x'.", false, true,
                                "output_text", ErrorAction::report},
                      ErrorCase{"configured", "Unknown parameter: 'x'.", true, false, "output_text",
                                ErrorAction::report},
                      ErrorCase{"outputText", "Invalid value: 'output_text'. Supported: 'text'.",
                                true, false, "output_text", ErrorAction::contentTypeFallback},
                      ErrorCase{"outputTextAlreadySwitched", "Invalid value: 'output_text'.", true,
                                false, "text", ErrorAction::report},
                      ErrorCase{"outputTextCaseSensitive", "Invalid value: 'OUTPUT_TEXT'.", true,
                                false, "output_text", ErrorAction::report},
                      ErrorCase{"other", "Rate limit reached", false, false, "output_text",
                                ErrorAction::report}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
