#include "realtime/RealtimeEndpoint.h"
#include "realtime/RealtimeTiming.h"

#include <gtest/gtest.h>

namespace {

TEST(RealtimeEndpointTest, DefaultUrlCarriesOnlyTheModel) {
    const auto resolved = RealtimeEndpoint::url(std::nullopt, QStringLiteral("gpt-realtime"));
    EXPECT_TRUE(resolved.error.isEmpty());
    EXPECT_EQ(resolved.url.toString(),
              QStringLiteral("wss://api.openai.com/v1/realtime?model=gpt-realtime"));
}

TEST(RealtimeEndpointTest, OverrideReplacesTheBaseAndItsQuery) {
    const auto resolved = RealtimeEndpoint::url(
        QStringLiteral("ws://127.0.0.1:9000/v1/realtime?model=old&debug=1"), QStringLiteral("m 2"));
    EXPECT_TRUE(resolved.error.isEmpty());
    EXPECT_EQ(resolved.url.toString(QUrl::FullyEncoded),
              QStringLiteral("ws://127.0.0.1:9000/v1/realtime?model=m%202"));
}

class InvalidOverrideTest : public ::testing::TestWithParam<const char*> {};

TEST_P(InvalidOverrideTest, IsReportedWithTheValue) {
    const QString value = QString::fromUtf8(GetParam());
    const auto resolved = RealtimeEndpoint::url(value, QStringLiteral("m"));
    EXPECT_EQ(resolved.error, QStringLiteral("Invalid OV_REALTIME_URL: ") + value);
}

INSTANTIATE_TEST_SUITE_P(Values, InvalidOverrideTest,
                         ::testing::Values("", "not a url", "http://127.0.0.1:9000/v1/realtime",
                                           "ws://", "wss://exa mple.com/x", "/v1/realtime",
                                           "ws://[::1/"));

TEST(RealtimeEndpointTest, AuthorizationUsesTheTrimmedKey) {
    const auto auth = RealtimeEndpoint::authorization(QStringLiteral("  sk-abc123\n"));
    EXPECT_TRUE(auth.error.isEmpty());
    EXPECT_EQ(auth.header, QByteArray("Bearer sk-abc123"));
}

TEST(RealtimeEndpointTest, AuthorizationRefusesControlCharactersInside) {
    for (const QString& key :
         {QStringLiteral("sk-ab\ncd"), QStringLiteral("sk-ab\rcd"), QStringLiteral("sk-\tabc"),
          QStringLiteral("sk-\x7f"), QStringLiteral("sk-a\u0085b")}) {
        const auto auth = RealtimeEndpoint::authorization(key);
        EXPECT_EQ(auth.error,
                  QStringLiteral(
                      "The API key contains invalid characters — paste it again in Settings."));
        EXPECT_TRUE(auth.header.isEmpty());
    }
}

TEST(RealtimeEndpointTest, WhitespaceOnlyKeyCountsAsNoKey) {
    EXPECT_EQ(RealtimeEndpoint::authorization(QStringLiteral(" \n")).error,
              RealtimeEndpoint::noKeyMessage);
}

TEST(RealtimeEndpointTest, RecognisesOnlyKeyRefusals) {
    const auto text = [](int code) {
        return QStringLiteral("QWebSocketPrivate::processHandshake: Unhandled http status code: "
                              "%1 (Unauthorized).")
            .arg(code);
    };
    EXPECT_EQ(RealtimeEndpoint::rejectedKeyStatus(text(401)), 401);
    EXPECT_EQ(RealtimeEndpoint::rejectedKeyStatus(text(403)), 403);
    EXPECT_EQ(RealtimeEndpoint::rejectedKeyStatus(text(500)), std::nullopt);
    EXPECT_EQ(RealtimeEndpoint::rejectedKeyStatus(text(429)), std::nullopt);
    EXPECT_EQ(RealtimeEndpoint::rejectedKeyStatus(QStringLiteral("Connection refused")),
              std::nullopt);
    EXPECT_EQ(RealtimeEndpoint::rejectedKeyMessage(401),
              QStringLiteral("The OpenAI API rejected the key (HTTP 401) — check it in Settings."));
}

TEST(RealtimeEndpointTest, CloseReasonFallsBackToTheCode) {
    EXPECT_EQ(RealtimeEndpoint::closeReasonText(1006, QString()), QStringLiteral("code 1006"));
    EXPECT_EQ(RealtimeEndpoint::closeReasonText(4000, QStringLiteral("session expired")),
              QStringLiteral("session expired"));
}

TEST(RealtimeTimingTest, BackoffDoublesUpToTwenty) {
    const int expected[] = {1, 2, 4, 8, 16, 20, 20, 20};
    for (int attempt = 0; attempt < 8; ++attempt)
        EXPECT_EQ(RealtimeTiming::backoffSteps(attempt), expected[attempt]) << attempt;
    EXPECT_EQ(RealtimeTiming::backoffSteps(1000), 20);
}

TEST(RealtimeTimingTest, CycleIsAtLeastFiveMinutes) {
    EXPECT_EQ(RealtimeTiming::cycleMinutes(2), 5);
    EXPECT_EQ(RealtimeTiming::cycleMinutes(-1), 5);
    EXPECT_EQ(RealtimeTiming::cycleMinutes(5), 5);
    EXPECT_EQ(RealtimeTiming::cycleMinutes(25), 25);
}

TEST(RealtimeTimingTest, ProductionValues) {
    const RealtimeTiming timing;
    EXPECT_EQ(timing.backoffUnit, std::chrono::seconds(1));
    EXPECT_EQ(timing.pingInterval, std::chrono::seconds(20));
    EXPECT_EQ(timing.cycleMinute, std::chrono::minutes(1));
    EXPECT_EQ(timing.handshakeTimeout, std::chrono::seconds(60));
    EXPECT_GT(timing.pongTimeout, std::chrono::seconds(0));
    EXPECT_LE(timing.pongTimeout, timing.pingInterval);
}

} // namespace
