#include "settings/AppSettings.h"
#include "settings/SecretStore.h"
#include "support/TestFiles.h"
#include "support/TestHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

QJsonObject runProbe(const QString& mode) {
    QProcess probe;
    probe.start(QStringLiteral(SETTINGS_PROBE), {mode});
    EXPECT_TRUE(probe.waitForFinished(20000));
    EXPECT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
}

QString configPath(const TestHome& home) {
    return home.configHome() + QStringLiteral("/Corvinel/Corvinel.conf");
}

struct Expected {
    const char* key;
    QJsonValue value;
};

TEST(AppSettingsTest, FreshProcessReadsEveryDefault) {
    TestHome home;
    const QJsonObject dump = runProbe(QStringLiteral("dump"));
    const Expected table[] = {
        {"apiKey", QString()},
        {"hasCompletedOnboarding", false},
        {"model", QStringLiteral("gpt-realtime-2.1")},
        {"transcribeModel", QStringLiteral("gpt-live-transcribe")},
        {"deviceUID", QString()},
        {"micChannel", 0},
        {"meetingChannel", 1},
        {"saveAudio", false},
        {"alwaysOnTop", true},
        {"vadThreshold", 0.5},
        {"prefixPaddingMs", 300},
        {"silenceDurationMs", 800},
        {"systemPrompt", AppSettings::defaultSystemPrompt()},
        {"contextText", QString()},
        {"contextFileNames", QJsonArray()},
        {"meetingSource", QStringLiteral("systemOutput")},
        {"tappedBundleID", QString()},
        {"streamSource", QStringLiteral("meetingOnly")},
        {"appearance", QStringLiteral("system")},
        {"transcribeMyAnswers", false},
        {"followUpWindow", 8.0},
        {"answerSpeed", QStringLiteral("balanced")},
        {"answerLength", QStringLiteral("normal")},
        {"answerLanguage", QString()},
        {"fontSize", 14.0},
        {"fontFamily", QString()},
        {"companyName", QString()},
        {"roleTitle", QString()},
        {"jobDescription", QString()},
        {"reconnectMinutes", 25},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.key);
        ASSERT_TRUE(dump.contains(QLatin1String(row.key)));
        EXPECT_EQ(dump.value(QLatin1String(row.key)), row.value);
    }
    const QJsonArray panel = dump.value(QStringLiteral("interviewers")).toArray();
    ASSERT_EQ(panel.size(), 2);
    for (const QJsonValue& member : panel) {
        EXPECT_EQ(member[QStringLiteral("name")].toString(), QString());
        EXPECT_EQ(member[QStringLiteral("title")].toString(), QString());
    }
    EXPECT_NE(panel[0][QStringLiteral("id")], panel[1][QStringLiteral("id")]);
    EXPECT_EQ(AppSettings::defaultSystemPrompt().size(), 501);
    // Reading must not create the file: defaults are never written back on their own.
    EXPECT_FALSE(QFile::exists(configPath(home)));
}

TEST(AppSettingsTest, EverySettingSurvivesARestart) {
    TestHome home;
    runProbe(QStringLiteral("write-all"));
    const QJsonObject dump = runProbe(QStringLiteral("dump"));
    const Expected table[] = {
        {"apiKey", QStringLiteral("sk-probe-key")},
        {"hasCompletedOnboarding", true},
        {"model", QStringLiteral("gpt-realtime-1.5")},
        {"transcribeModel", QStringLiteral("whisper-1")},
        {"deviceUID", QStringLiteral("alsa_input.usb-Focusrite, 4ch")},
        {"micChannel", 2},
        {"meetingChannel", -1},
        {"saveAudio", true},
        {"alwaysOnTop", false},
        {"vadThreshold", 0.1 + 0.2},
        {"prefixPaddingMs", 0},
        {"silenceDurationMs", 1234},
        {"systemPrompt", QStringLiteral("Line one\nline \"two\", with; odd = chars\t[x] @start")},
        {"contextText", QStringLiteral("@ByteArray(not really)\r\nmore")},
        {"contextFileNames", QJsonArray{QStringLiteral("cv.pdf")}},
        {"meetingSource", QStringLiteral("audioDevice")},
        {"tappedBundleID", QStringLiteral("us.zoom.Zoom")},
        {"streamSource", QStringLiteral("both")},
        {"appearance", QStringLiteral("dark")},
        {"transcribeMyAnswers", true},
        {"followUpWindow", 12.0},
        {"answerSpeed", QStringLiteral("thorough")},
        {"answerLength", QStringLiteral("brief")},
        {"answerLanguage", QStringLiteral("Japanese")},
        {"fontSize", 17.5},
        {"fontFamily", QStringLiteral("__mono")},
        {"companyName", QStringLiteral(" ")},
        {"roleTitle", QStringLiteral("Staff Engineer")},
        {"jobDescription", QStringLiteral("We build things.\n\n- Rust, C++")},
        {"reconnectMinutes", 7},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.key);
        EXPECT_EQ(dump.value(QLatin1String(row.key)), row.value);
    }
    const QJsonArray panel = dump.value(QStringLiteral("interviewers")).toArray();
    ASSERT_EQ(panel.size(), 2);
    EXPECT_EQ(
        panel[0].toObject(),
        (QJsonObject{{QStringLiteral("id"), QStringLiteral("3F2504E0-4F89-11D3-9A0C-0305E82C3301")},
                     {QStringLiteral("name"), QStringLiteral("Åsa Lind")},
                     {QStringLiteral("title"), QStringLiteral("CTO, Ops")}}));
    EXPECT_EQ(panel[1][QStringLiteral("title")].toString(), QStringLiteral("Head of Talent"));
    // The key is never kept in the settings file.
    QFile ini(configPath(home));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_FALSE(ini.readAll().contains("sk-probe-key"));
}

TEST(AppSettingsTest, WrongTypesAndUnknownRawValuesReadAsDefaults) {
    TestHome home;
    writeBytes(configPath(home), "[General]\n"
                                 "micChannel=two\n"
                                 "meetingChannel=1.5\n"
                                 "prefixPaddingMs=99999999999\n"
                                 "alwaysOnTop=0\n"
                                 "vadThreshold=high\n"
                                 "followUpWindow=@ByteArray(8)\n"
                                 "model=a, b\n"
                                 "appearance=sepia\n"
                                 "meetingSource=SingleApp\n"
                                 "streamSource=micOnly|both\n"
                                 "answerSpeed=fast\n"
                                 "answerLength=long\n"
                                 "answerLanguage=german\n"
                                 "interviewers=@ByteArray([1,2])\n");
    AppSettings settings(configPath(home));
    EXPECT_EQ(settings.micChannel(), 0);
    EXPECT_EQ(settings.meetingChannel(), 1);
    EXPECT_EQ(settings.prefixPaddingMs(), 300);
    EXPECT_TRUE(settings.alwaysOnTop());
    EXPECT_EQ(settings.vadThreshold(), 0.5);
    EXPECT_EQ(settings.followUpWindow(), 8.0);
    EXPECT_EQ(settings.model(), QStringLiteral("gpt-realtime-2.1"));
    EXPECT_EQ(settings.appearance(), AppSettings::Appearance::system);
    EXPECT_EQ(settings.meetingSource(), AppSettings::MeetingSource::systemOutput);
    EXPECT_EQ(settings.streamSource(), AppSettings::StreamSource::meetingOnly);
    EXPECT_EQ(settings.answerSpeed(), AppSettings::AnswerSpeed::balanced) << "not the first case";
    EXPECT_EQ(settings.reasoningEffort(), QStringLiteral("low"));
    EXPECT_EQ(settings.answerLength(), AppSettings::AnswerLength::normal) << "not the first case";
    EXPECT_EQ(settings.answerLanguage(), QString()) << "names are matched exactly";
    EXPECT_EQ(settings.interviewers().size(), 2);
}

// What a person types into the file: commas and quotes unescaped.
TEST(AppSettingsTest, HandWrittenTextKeepsItsCommas) {
    TestHome home;
    writeBytes(configPath(home), "[General]\n"
                                 "systemPrompt=Be brief, be kind\n"
                                 "companyName=Acme, Inc.\n"
                                 "jobDescription=Rust,C++ ,  Qt\n"
                                 "roleTitle=\"Lead, Platform\"\n"
                                 "deviceUID=alsa_input.usb-Focusrite, 4ch\n"
                                 "contextText=plain\n");
    AppSettings settings(configPath(home));
    EXPECT_EQ(settings.systemPrompt(), QStringLiteral("Be brief, be kind"));
    EXPECT_EQ(settings.companyName(), QStringLiteral("Acme, Inc."));
    EXPECT_EQ(settings.jobDescription(), QStringLiteral("Rust, C++, Qt"));
    EXPECT_EQ(settings.roleTitle(), QStringLiteral("Lead, Platform"));
    EXPECT_EQ(settings.deviceUID(), QStringLiteral("alsa_input.usb-Focusrite, 4ch"));
    EXPECT_EQ(settings.contextText(), QStringLiteral("plain"));
}

class HandWrittenPanelTest : public ::testing::TestWithParam<const char*> {};

TEST_P(HandWrittenPanelTest, PlainJsonIsAccepted) {
    TestHome home;
    writeBytes(configPath(home), QByteArray("[General]\nmodel=m\ninterviewers=") + GetParam() +
                                     "\nroleTitle=Staff\n[Other]\ninterviewers=[]\n");
    AppSettings settings(configPath(home));
    const Panel panel = settings.interviewers();
    ASSERT_EQ(panel.size(), 2);
    EXPECT_EQ(panel[0].idText(), QStringLiteral("11111111-1111-1111-1111-111111111111"));
    EXPECT_EQ(panel[0].name, QStringLiteral("Lind, Åsa \"Ace\""));
    EXPECT_EQ(panel[1].title, QStringLiteral("CTO"));
    EXPECT_EQ(settings.roleTitle(), QStringLiteral("Staff"));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, HandWrittenPanelTest,
    ::testing::Values(
        R"([{"id":"11111111-1111-1111-1111-111111111111","name":"Lind, Åsa \"Ace\"","title":"CEO"},)"
        R"( {"id":"22222222-2222-2222-2222-222222222222","name":"B","title":"CTO"}])",
        R"(@ByteArray([{"id":"11111111-1111-1111-1111-111111111111","name":"Lind, Åsa \"Ace\"",)"
        R"("title":"CEO"},{"id":"22222222-2222-2222-2222-222222222222","name":"B","title":"CTO"}]))"));

TEST(AppSettingsTest, RawValuesAreTheCaseNamesInOrderAndSpeedsAreEfforts) {
    using S = AppSettings;
    using Speed = S::AnswerSpeed;
    const auto effort = [](const char* model, Speed speed) {
        return S::reasoningEffort(QString::fromLatin1(model), speed);
    };
    const std::pair<QString, QString> table[] = {
        {S::rawValue(S::MeetingSource::systemOutput), QStringLiteral("systemOutput")},
        {S::rawValue(S::MeetingSource::singleApp), QStringLiteral("singleApp")},
        {S::rawValue(S::MeetingSource::audioDevice), QStringLiteral("audioDevice")},
        {S::rawValue(S::StreamSource::meetingOnly), QStringLiteral("meetingOnly")},
        {S::rawValue(S::StreamSource::micOnly), QStringLiteral("micOnly")},
        {S::rawValue(S::StreamSource::both), QStringLiteral("both")},
        {S::rawValue(S::Appearance::system), QStringLiteral("system")},
        {S::rawValue(S::Appearance::light), QStringLiteral("light")},
        {S::rawValue(S::Appearance::dark), QStringLiteral("dark")},
        {effort("gpt-realtime-2.1", Speed::fastest), QStringLiteral("minimal")},
        {effort("gpt-realtime-2.1-mini", Speed::thorough), QStringLiteral("medium")},
        {effort("gpt-realtime-2-2026-03-12", Speed::balanced), QStringLiteral("low")},
        {effort("gpt-realtime-2", Speed::thorough), QStringLiteral("medium")},
        {effort("gpt-realtime-1.5", Speed::thorough), QString()},
        {effort("my-gpt-realtime-2", Speed::thorough), QString()},
    };
    for (const auto& [actual, expected] : table)
        EXPECT_EQ(actual, expected);
    EXPECT_EQ(S::meetingSourceFromRaw(QStringLiteral("singleApp")), S::MeetingSource::singleApp);
    EXPECT_EQ(S::streamSourceFromRaw(QStringLiteral("both")), S::StreamSource::both);
    EXPECT_EQ(S::appearanceFromRaw(QStringLiteral("Appearance::dark")), S::Appearance::system);
    EXPECT_EQ(S::appearanceFromRaw(QString()), S::Appearance::system);
}

TEST(AppSettingsTest, StoredPanelOfThreeReadsAsTwoNewBlankMembersAndIsNotWrittenBack) {
    TestHome home;
    const QByteArray three =
        R"([{"id":"11111111-1111-1111-1111-111111111111","name":"A","title":"CEO"},)"
        R"({"id":"22222222-2222-2222-2222-222222222222","name":"B","title":"CTO"},)"
        R"({"id":"33333333-3333-3333-3333-333333333333","name":"C","title":"VP"}])";
    {
        AppSettings writer(configPath(home));
        writer.setModel(QStringLiteral("m")); // creates the file with a [General] group
    }
    {
        QSettings raw(configPath(home), QSettings::IniFormat);
        raw.setValue(QStringLiteral("interviewers"), three);
    }
    AppSettings settings(configPath(home));
    const Panel panel = settings.interviewers();
    ASSERT_EQ(panel.size(), 2);
    for (const Interviewer& member : panel) {
        EXPECT_TRUE(member.name.isEmpty());
        EXPECT_TRUE(member.title.isEmpty());
        EXPECT_FALSE(three.contains(member.idText().toLatin1()));
    }
    EXPECT_NE(panel[0].id, panel[1].id);
    settings.setModel(QStringLiteral("other")); // an unrelated write keeps the stored panel
    QFile file(configPath(home));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("33333333-3333-3333-3333-333333333333"));
}

TEST(AppSettingsTest, AssignmentNotifiesOnlyOnChangeButAlwaysWrites) {
    TestHome home;
    AppSettings settings(configPath(home));
    QSignalSpy model(&settings, &AppSettings::modelChanged);
    QSignalSpy job(&settings, &AppSettings::jobDescriptionChanged);
    QSignalSpy instructions(&settings, &AppSettings::instructionsChanged);

    settings.setModel(QStringLiteral("gpt-realtime-2.1")); // equals the default
    EXPECT_EQ(model.count(), 0);
    EXPECT_EQ(QSettings(configPath(home), QSettings::IniFormat).value("model").toString(),
              QStringLiteral("gpt-realtime-2.1"));

    settings.setModel(QStringLiteral("gpt-realtime-2"));
    EXPECT_EQ(model.count(), 1);
    EXPECT_EQ(instructions.count(), 0);

    settings.setJobDescription(QStringLiteral("Build it"));
    EXPECT_EQ(job.count(), 1);
    EXPECT_EQ(instructions.count(), 1);
    EXPECT_TRUE(settings.instructions().contains(QStringLiteral("Job description:\nBuild it")));

    Panel panel = settings.interviewers();
    panel[1].title = QStringLiteral("CTO");
    settings.setInterviewers(panel);
    EXPECT_EQ(instructions.count(), 2);
    settings.setAnswerLanguage(QStringLiteral("German"));
    settings.setAnswerLength(AppSettings::AnswerLength::detailed);
    EXPECT_EQ(instructions.count(), 4);
    settings.setReconnectMinutes(7);
    EXPECT_EQ(settings.reconnectMinutes(), 7);
}

// A slider's steps make one write on the next turn of the event loop; what is pending when the
// settings go away is written all the same.
TEST(AppSettingsTest, AssignmentsAreWrittenTogetherOnTheNextTurnOfTheEventLoop) {
    TestHome home;
    const QString path = configPath(home);
    {
        AppSettings settings(path);
        for (int step = 10; step <= 20; ++step)
            settings.setFontSize(step);
        EXPECT_FALSE(QFile::exists(path));
        QCoreApplication::processEvents();
        EXPECT_TRUE(readText(path).contains(QStringLiteral("fontSize=20")));
        settings.setModel(QStringLiteral("gpt-realtime-2"));
    }
    EXPECT_TRUE(readText(path).contains(QStringLiteral("model=gpt-realtime-2")));
}

struct RangeCase {
    const char* key;
    const char* stored;
    QVariant read;
};

// The settings window's ranges; NaN and infinities read as the default.
const RangeCase rangeCases[] = {
    {"vadThreshold", "nan", 0.5},     {"vadThreshold", "inf", 0.5},
    {"vadThreshold", "-inf", 0.5},    {"vadThreshold", "0.05", 0.1},
    {"vadThreshold", "0.95", 0.9},    {"vadThreshold", "0.42", 0.42},
    {"prefixPaddingMs", "-20", 0},    {"prefixPaddingMs", "5000", 1000},
    {"silenceDurationMs", "50", 200}, {"silenceDurationMs", "99999", 3000},
    {"followUpWindow", "-1", 0.0},    {"followUpWindow", "30", 20.0},
    {"followUpWindow", "nan", 8.0},   {"fontSize", "4", 10.0},
    {"fontSize", "100", 36.0},        {"reconnectMinutes", "35792", 55},
    {"reconnectMinutes", "1", 5},     {"reconnectMinutes", "-3", 5},
    {"micChannel", "-2", 0},          {"micChannel", "3", 3},
    {"meetingChannel", "-5", -1},     {"meetingChannel", "-1", -1},
};

void PrintTo(const RangeCase& c, std::ostream* out) {
    *out << c.key << '=' << c.stored;
}

class SettingRangeTest : public ::testing::TestWithParam<RangeCase> {};

TEST_P(SettingRangeTest, OutOfRangeReadsAsTheNearestBound) {
    const RangeCase c = GetParam();
    TestHome home;
    writeBytes(configPath(home), QByteArray("[General]\n") + c.key + '=' + c.stored + '\n');
    AppSettings settings(configPath(home));
    EXPECT_EQ(settings.property(c.key), c.read);
}

TEST_P(SettingRangeTest, AssignmentKeepsAndWritesTheValueInRange) {
    const RangeCase c = GetParam();
    TestHome home;
    AppSettings settings(configPath(home));
    QVariant given = QString::fromLatin1(c.stored);
    ASSERT_TRUE(given.convert(c.read.metaType()));
    settings.setProperty(c.key, given);
    EXPECT_EQ(settings.property(c.key), c.read);
    EXPECT_EQ(QSettings(configPath(home), QSettings::IniFormat).value(c.key).toString(),
              c.read.toString());
}

INSTANTIATE_TEST_SUITE_P(Settings, SettingRangeTest, ::testing::ValuesIn(rangeCases),
                         [](const auto& info) {
                             return std::string(info.param.key) + "_" + std::to_string(info.index);
                         });

// The key store's own cases are in SecretStoreTest; here only that the settings go through it.
TEST(AppSettingsTest, ApiKeyComesFromFileOrLegacyCopyThenUntrimmedEnvironmentThenNothing) {
    struct Row {
        const char* name;
        std::optional<QByteArray> file, legacy, env;
        QString expected;
    };
    const Row table[] = {
        {"file wins",
         QByteArray(" sk-file\n"),
         {},
         QByteArray("sk-env"),
         QStringLiteral("sk-file")},
        {"blank file falls back",
         QByteArray("  \n"),
         {},
         QByteArray(" sk-env \n"),
         QStringLiteral(" sk-env \n")},
        {"no file", {}, {}, QByteArray(" sk-env"), QStringLiteral(" sk-env")},
        {"invalid UTF-8 file",
         QByteArray("\xff\xfe"),
         {},
         QByteArray("sk-env"),
         QStringLiteral("sk-env")},
        {"legacy copy",
         {},
         QByteArray("sk-legacy\n"),
         QByteArray("sk-env"),
         QStringLiteral("sk-legacy")},
        {"nothing", {}, {}, {}, QString()},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        TestHome home;
        home.setEnv("OPENAI_API_KEY", row.env);
        if (row.file)
            writeBytes(SecretStore::keyFilePath(), *row.file);
        if (row.legacy)
            writeBytes(SecretStore::legacyDirectory() + QStringLiteral("/openai.key"), *row.legacy);
        AppSettings settings(configPath(home));
        EXPECT_EQ(settings.apiKey(), row.expected);
        EXPECT_EQ(QFile::exists(SecretStore::keyFilePath()), row.file || row.legacy)
            << "the environment's key is never saved on its own";
    }
}

TEST(AppSettingsTest, SavedKeyIsUsedAsTypedAndReadTrimmedAfterARelaunch) {
    TestHome home;
    AppSettings settings(configPath(home));
    settings.setApiKey(QStringLiteral("  sk-live-123 \n"));
    EXPECT_EQ(settings.apiKey(), QStringLiteral("  sk-live-123 \n"));
    EXPECT_EQ(SecretStore::readKey(), QStringLiteral("sk-live-123"));
    EXPECT_EQ(AppSettings(configPath(home)).apiKey(), QStringLiteral("sk-live-123"));
}

} // namespace
