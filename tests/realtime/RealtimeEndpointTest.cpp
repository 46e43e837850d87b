#include "realtime/RealtimeEndpoint.h"
#include "realtime/RealtimeTiming.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(RealtimeEndpointTest, DefaultUrlCarriesOnlyTheModel) {
    const auto resolved = RealtimeEndpoint::url(std::nullopt, QStringLiteral("gpt-realtime"));
    EXPECT_TRUE(resolved.error.isEmpty());
    EXPECT_EQ(resolved.url.toString(),
              QStringLiteral("wss://api.openai.com/v1/realtime?model=gpt-realtime"));
}

TEST(RealtimeEndpointTest, OverrideReplacesTheBaseAndItsQuery) {
    const auto resolved = RealtimeEndpoint::url(
        QStringLiteral("ws://127.0.0.1:9000/v1/realtime?model=old&debug=1"), QStringLiteral("m&2"));
    EXPECT_TRUE(resolved.error.isEmpty());
    EXPECT_EQ(resolved.url.toString(QUrl::FullyEncoded),
              QStringLiteral("ws://127.0.0.1:9000/v1/realtime?model=m%262"));
}

struct SchemeCase {
    const char* url;
    bool allowed;
};

class OverrideSchemeTest : public ::testing::TestWithParam<SchemeCase> {};

// The key travels in the upgrade request: in clear text only as far as this machine.
TEST_P(OverrideSchemeTest, PlainWebSocketOnlyToLoopback) {
    const QString value = QString::fromUtf8(GetParam().url);
    const auto resolved = RealtimeEndpoint::url(value, QStringLiteral("m"));
    if (GetParam().allowed) {
        EXPECT_TRUE(resolved.error.isEmpty()) << resolved.error.toStdString();
        EXPECT_TRUE(resolved.url.isValid());
    } else {
        EXPECT_EQ(resolved.error,
                  QStringLiteral("OV_REALTIME_URL must use wss:// for a server on another "
                                 "machine (ws:// would send the API key unencrypted): ") +
                      value);
    }
}

INSTANTIATE_TEST_SUITE_P(Urls, OverrideSchemeTest,
                         ::testing::Values(SchemeCase{"wss://example.com/v1/realtime", true},
                                           SchemeCase{"wss://10.0.0.5:9000/v1/realtime", true},
                                           SchemeCase{"ws://127.0.0.1:9000/v1/realtime", true},
                                           SchemeCase{"ws://127.8.9.10/v1/realtime", true},
                                           SchemeCase{"ws://[::1]:9000/v1/realtime", true},
                                           SchemeCase{"ws://localhost:9000/v1/realtime", true},
                                           SchemeCase{"WS://LocalHost/v1/realtime", true},
                                           SchemeCase{"ws://example.com/v1/realtime", false},
                                           SchemeCase{"ws://10.0.0.5:9000/v1/realtime", false},
                                           SchemeCase{"ws://128.0.0.1/v1/realtime", false},
                                           SchemeCase{"ws://[::2]/v1/realtime", false},
                                           SchemeCase{"ws://localhost.example.com/v1/realtime",
                                                      false}));

struct ModelCase {
    QString model;
    QString error;
};

class ModelIdTest : public ::testing::TestWithParam<ModelCase> {};

TEST_P(ModelIdTest, ImpossibleIdsAreRefusedByName) {
    const auto resolved = RealtimeEndpoint::url(std::nullopt, GetParam().model);
    EXPECT_EQ(resolved.error, GetParam().error);
    EXPECT_EQ(resolved.url.isValid(), GetParam().error.isEmpty());
}

const QString tooLongModel =
    QStringLiteral("The model id is longer than 200 characters — choose a model in Settings.");
const QString badModel = QStringLiteral(
    "The model id contains blanks or control characters — choose a model in Settings.");

INSTANTIATE_TEST_SUITE_P(Ids, ModelIdTest,
                         ::testing::Values(ModelCase{QStringLiteral("gpt-realtime-2.1"), {}},
                                           ModelCase{QString(200, u'm'), {}},
                                           ModelCase{QString(201, u'm'), tooLongModel},
                                           ModelCase{QStringLiteral("gpt realtime"), badModel},
                                           ModelCase{QStringLiteral("gpt-realtime\n"), badModel},
                                           ModelCase{QStringLiteral(" gpt-realtime"), badModel},
                                           ModelCase{QStringLiteral("gpt\u00a0realtime"), badModel},
                                           ModelCase{QStringLiteral("gpt\x7f"), badModel}));

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

TEST(RealtimeEndpointTest, AuthorizationRefusesWhatAHeaderCannotCarry) {
    for (const QString& key :
         {QStringLiteral("sk-ab\ncd"), QStringLiteral("sk-ab\rcd"), QStringLiteral("sk-\tabc"),
          QStringLiteral("sk-\x7f"), QStringLiteral("sk-a\u0085b"), QStringLiteral("sk-ab cd"),
          QStringLiteral("sk-ab\u00a0cd"), QStringLiteral("sk-abé"),
          QStringLiteral("sk-ab\u2014")}) {
        const auto auth = RealtimeEndpoint::authorization(key);
        EXPECT_EQ(auth.error,
                  QStringLiteral(
                      "The API key contains invalid characters — paste it again in Settings."));
        EXPECT_TRUE(auth.header.isEmpty());
    }
}

TEST(RealtimeEndpointTest, AuthorizationRefusesAKeyLongerThanAnyReal) {
    const QString longest = QStringLiteral("sk-") + QString(397, u'k');
    EXPECT_EQ(RealtimeEndpoint::authorization(longest).header,
              QByteArrayLiteral("Bearer ") + longest.toLatin1());
    const auto auth = RealtimeEndpoint::authorization(longest + u'k');
    EXPECT_EQ(auth.error, QStringLiteral("The API key is longer than any OpenAI key (over 400 "
                                         "characters) — paste it again in Settings."));
    EXPECT_TRUE(auth.header.isEmpty());
}

struct MaskCase {
    QString text;
    QString key;
    QString shown;
};

class MaskSecretsTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskSecretsTest, KeepsOnlyTheLastFourCharacters) {
    EXPECT_EQ(RealtimeEndpoint::maskSecrets(GetParam().text, GetParam().key), GetParam().shown);
}

const QString projectKey = QStringLiteral("sk-proj-AbCdEfGhIjKlMnOp1234");

INSTANTIATE_TEST_SUITE_P(
    Texts, MaskSecretsTest,
    ::testing::Values(
        MaskCase{QStringLiteral("Incorrect API key provided: sk-proj-AbCdEfGhIjKlMnOp1234."),
                 projectKey, QStringLiteral("Incorrect API key provided: sk-…1234.")},
        // Stored as pasted, with its newline.
        MaskCase{
            QStringLiteral("bad key sk-proj-AbCdEfGhIjKlMnOp1234 and sk-proj-AbCdEfGhIjKlMnOp1234"),
            projectKey + u'\n', QStringLiteral("bad key sk-…1234 and sk-…1234")},
        MaskCase{QStringLiteral("key 'legacyKeyWithoutPrefix9876' refused"),
                 QStringLiteral("legacyKeyWithoutPrefix9876"),
                 QStringLiteral("key '…9876' refused")},
        // A key-shaped token that is not the current key (an older one, another project).
        MaskCase{QStringLiteral("sk-svcacct-Zz99Yy88Xx77 expired"), projectKey,
                 QStringLiteral("sk-…Xx77 expired")},
        MaskCase{QStringLiteral("sk-abcdefgh"), QString(), QStringLiteral("sk-…")},
        MaskCase{QStringLiteral("Unknown parameter: 'session.foo'."), projectKey,
                 QStringLiteral("Unknown parameter: 'session.foo'.")},
        MaskCase{QStringLiteral("task-1234567890abc sk-short sk-proj-****1234"), QString(),
                 QStringLiteral("task-1234567890abc sk-short sk-proj-****1234")},
        MaskCase{QStringLiteral("code 1006"), QStringLiteral("sk-test"),
                 QStringLiteral("code 1006")}));

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
    EXPECT_EQ(RealtimeEndpoint::refusedUpgradeStatus(text(404)), 404);
    EXPECT_EQ(RealtimeEndpoint::refusedUpgradeStatus(QStringLiteral("Connection refused")),
              std::nullopt);
    EXPECT_EQ(RealtimeEndpoint::httpStatusText(404), QStringLiteral("404 Not Found"));
    EXPECT_EQ(RealtimeEndpoint::httpStatusText(418), QStringLiteral("418"));
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

TEST(RealtimeTimingTest, CycleIntervalNeverExceedsATimersMilliseconds) {
    const RealtimeTiming timing;
    const std::pair<int, std::chrono::milliseconds> table[] = {
        {2, std::chrono::minutes(5)},
        {25, std::chrono::minutes(25)},
        {35791, std::chrono::minutes(35791)},
        {35792, std::chrono::milliseconds(std::numeric_limits<int>::max())},
        {std::numeric_limits<int>::max(),
         std::chrono::milliseconds(std::numeric_limits<int>::max())},
    };
    for (const auto& [minutes, expected] : table)
        EXPECT_EQ(timing.cycleInterval(minutes), expected) << minutes;
}

TEST(RealtimeTimingTest, ProductionValues) {
    const RealtimeTiming timing;
    EXPECT_EQ(timing.backoffUnit, std::chrono::seconds(1));
    EXPECT_EQ(timing.pingInterval, std::chrono::seconds(20));
    EXPECT_EQ(timing.cycleMinute, std::chrono::minutes(1));
    EXPECT_EQ(timing.handshakeTimeout, std::chrono::seconds(15));
    EXPECT_EQ(timing.cycleGrace, std::chrono::seconds(20));
    EXPECT_GT(timing.pongTimeout, std::chrono::seconds(0));
    EXPECT_LE(timing.pongTimeout, timing.pingInterval);
}

} // namespace
