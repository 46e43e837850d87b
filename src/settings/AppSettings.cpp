#include "settings/AppSettings.h"

#include "settings/Instructions.h"
#include "settings/SecretStore.h"
#include "settings/StoredValue.h"

#include <QFile>
#include <QFontDatabase>
#include <QMetaEnum>
#include <QStandardPaths>
#include <QtDebug>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
const QString kKeyFile = QStringLiteral("openai.key");

template <typename E> QString enumRaw(E value) {
    return QString::fromLatin1(QMetaEnum::fromType<E>().valueToKey(int(value)));
}

template <typename E> E enumFromRaw(const QString& raw) {
    bool ok = false;
    const int value = QMetaEnum::fromType<E>().keyToValue(raw.toLatin1().constData(), &ok);
    // keyToValue also accepts "A|B" and scoped names; only an exact case name counts.
    if (!ok || enumRaw(E(value)) != raw)
        return E(QMetaEnum::fromType<E>().value(0));
    return E(value);
}

Panel twoBlankInterviewers() {
    return {Interviewer::blank(), Interviewer::blank()};
}

// The ranges the settings window offers. A value from outside them (a hand-edited file, an old
// version) is brought into range on reading and on assignment: "nan" would go out as JSON null,
// and a huge reconnect period overflows the cycle timer.
double inRange(double value, double low, double high, double fallback) {
    if (!std::isfinite(value))
        return fallback;
    return std::clamp(value, low, high);
}

int inRange(int value, int low, int high) {
    return std::clamp(value, low, high);
}

constexpr int intMax = std::numeric_limits<int>::max();

int micChannelIn(int value) {
    return inRange(value, 0, intMax);
}
int meetingChannelIn(int value) {
    return inRange(value, -1, intMax);
}
double vadThresholdIn(double value) {
    return inRange(value, 0.1, 0.9, 0.5);
}
int prefixPaddingMsIn(int value) {
    return inRange(value, 0, 1000);
}
int silenceDurationMsIn(int value) {
    return inRange(value, 200, 3000);
}
double followUpWindowIn(double value) {
    return inRange(value, 0.0, 20.0, 8.0);
}
double fontSizeIn(double value) {
    return inRange(value, 10.0, 36.0, 14.0);
}
int reconnectMinutesIn(int value) {
    return inRange(value, 5, 55);
}
} // namespace

AppSettings::AppSettings(const QString& path, QObject* parent)
    : QObject(parent), m_store(path, QSettings::IniFormat) {
    load();
}

AppSettings::~AppSettings() {
    m_store.sync();
}

AppSettings& AppSettings::shared() {
    static AppSettings* instance = new AppSettings();
    return *instance;
}

QString AppSettings::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Corvinel/Corvinel.conf");
}

QString AppSettings::defaultSystemPrompt() {
    return QStringLiteral(
        "You are a live meeting assistant listening to a conversation in real time.\n"
        "When a question is asked, answer it immediately, concisely and factually.\n"
        "Ground every answer in the CONTEXT below when it is relevant; never invent\n"
        "experience or facts that are not in the context. Prefer 2-5 short sentences\n"
        "or a tight bullet list. Do not greet, do not narrate, do not restate the\n"
        "question. If the audio is small talk rather than a question, reply with a\n"
        "single short line of useful context or nothing at all.");
}

QStringList AppSettings::knownModels() {
    return {QStringLiteral("gpt-realtime-2.1"), QStringLiteral("gpt-realtime-2.1-mini"),
            QStringLiteral("gpt-realtime-2"), QStringLiteral("gpt-realtime-1.5")};
}

QStringList AppSettings::knownTranscribeModels() {
    return {QStringLiteral("gpt-live-transcribe"), QStringLiteral("gpt-transcribe"),
            QStringLiteral("gpt-realtime-whisper"), QStringLiteral("gpt-4o-transcribe"),
            QStringLiteral("whisper-1")};
}

QString AppSettings::rawValue(MeetingSource value) {
    return enumRaw(value);
}
QString AppSettings::rawValue(StreamSource value) {
    return enumRaw(value);
}
QString AppSettings::rawValue(Appearance value) {
    return enumRaw(value);
}
AppSettings::MeetingSource AppSettings::meetingSourceFromRaw(const QString& raw) {
    return enumFromRaw<MeetingSource>(raw);
}
AppSettings::StreamSource AppSettings::streamSourceFromRaw(const QString& raw) {
    return enumFromRaw<StreamSource>(raw);
}
AppSettings::Appearance AppSettings::appearanceFromRaw(const QString& raw) {
    return enumFromRaw<Appearance>(raw);
}

void AppSettings::load() {
    SecretStore::migrateIfNeeded(kKeyFile);
    m_keyFileNotices = SecretStore::securePermissions();
    m_apiKey = SecretStore::readKey();
    if (m_apiKey.isEmpty())
        m_apiKey = qEnvironmentVariable("OPENAI_API_KEY"); // as given, not trimmed

    auto value = [this](const char* key) { return m_store.value(QLatin1String(key)); };
    using namespace StoredValue;
    m_hasCompletedOnboarding = toBool(value("hasCompletedOnboarding")).value_or(false);
    m_model = toString(value("model")).value_or(QStringLiteral("gpt-realtime-2.1"));
    m_transcribeModel =
        toString(value("transcribeModel")).value_or(QStringLiteral("gpt-live-transcribe"));
    m_deviceUID = toText(value("deviceUID")).value_or(QString());
    m_micChannel = micChannelIn(toInt(value("micChannel")).value_or(0));
    m_meetingChannel = meetingChannelIn(toInt(value("meetingChannel")).value_or(1));
    m_saveAudio = toBool(value("saveAudio")).value_or(false);
    m_alwaysOnTop = toBool(value("alwaysOnTop")).value_or(true);
    m_vadThreshold = vadThresholdIn(toDouble(value("vadThreshold")).value_or(0.5));
    m_prefixPaddingMs = prefixPaddingMsIn(toInt(value("prefixPaddingMs")).value_or(300));
    m_silenceDurationMs = silenceDurationMsIn(toInt(value("silenceDurationMs")).value_or(800));
    m_systemPrompt = toText(value("systemPrompt")).value_or(defaultSystemPrompt());
    m_contextText = toText(value("contextText")).value_or(QString());
    m_contextFileNames = toStringList(value("contextFileNames")).value_or(QStringList());
    m_meetingSource =
        meetingSourceFromRaw(toString(value("meetingSource")).value_or(QStringLiteral("")));
    m_tappedBundleID = toString(value("tappedBundleID")).value_or(QString());
    m_streamSource =
        streamSourceFromRaw(toString(value("streamSource")).value_or(QStringLiteral("")));
    m_appearance = appearanceFromRaw(toString(value("appearance")).value_or(QStringLiteral("")));
    m_transcribeMyAnswers = toBool(value("transcribeMyAnswers")).value_or(false);
    m_followUpWindow = followUpWindowIn(toDouble(value("followUpWindow")).value_or(8.0));
    m_fontSize = fontSizeIn(toDouble(value("fontSize")).value_or(14.0));
    m_fontFamily = toText(value("fontFamily")).value_or(QString());
    m_companyName = toText(value("companyName")).value_or(QString());
    m_roleTitle = toText(value("roleTitle")).value_or(QString());
    m_jobDescription = toText(value("jobDescription")).value_or(QString());
    m_reconnectMinutes = reconnectMinutesIn(toInt(value("reconnectMinutes")).value_or(25));

    // The panel always has two members; anything else is replaced in memory only, so the
    // stored value stays until the user edits the panel.
    const std::optional<QByteArray> data = toData(value("interviewers"));
    std::optional<Panel> panel = data ? decodePanel(*data) : std::nullopt;
    if (!panel)
        panel = handWrittenPanel();
    m_interviewers = panel && panel->size() == 2 ? *panel : twoBlankInterviewers();
}

// The panel typed into the file as plain JSON: the INI reader strips its quotes and splits it at
// its commas, so it is read again from the line as written.
std::optional<Panel> AppSettings::handWrittenPanel() const {
    QFile file(m_store.fileName());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<QString> raw =
        StoredValue::rawIniValue(file.readAll(), QStringLiteral("interviewers"));
    if (!raw)
        return std::nullopt;
    QString json = *raw;
    if (json.startsWith(u"@ByteArray(") && json.endsWith(u')'))
        json = json.mid(11, json.size() - 12);
    return decodePanel(json.toUtf8());
}

QString AppSettings::instructions() const {
    return assembleInstructions({m_systemPrompt, m_companyName, m_roleTitle, m_jobDescription,
                                 m_interviewers, m_contextText});
}

void AppSettings::write(const QString& key, const QVariant& value) {
    m_store.setValue(key, value);
    m_store.sync();
    if (m_store.status() != QSettings::NoError && !m_reportedWriteFailure) {
        m_reportedWriteFailure = true;
        qWarning().noquote() << "[Corvinel] settings could not be written to" << m_store.fileName();
    }
}

template <typename T>
void AppSettings::assign(T& field, const T& value, void (AppSettings::*changed)(),
                         const QString& key, const QVariant& stored, bool feedsInstructions) {
    const bool isChange = !(field == value);
    field = value;
    if (isChange) {
        emit(this->*changed)();
        if (feedsInstructions)
            emit instructionsChanged();
    }
    write(key, stored);
}

void AppSettings::setApiKey(const QString& value) {
    if (m_apiKey != value) {
        m_apiKey = value;
        emit apiKeyChanged();
    }
    const QString error = SecretStore::save(value).value_or(QString());
    if (m_apiKeySaveError != error) {
        m_apiKeySaveError = error;
        emit apiKeySaveErrorChanged();
    }
}

#define CORVINEL_SETTER(Name, field, Type, key, stored, feeds)                                     \
    void AppSettings::set##Name(Type value) {                                                      \
        assign(field, value, &AppSettings::key##Changed, QStringLiteral(#key), stored, feeds);     \
    }
// A setting with a range: the value is brought into it before it is kept and written.
#define CORVINEL_RANGED_SETTER(Name, field, Type, key, range)                                      \
    void AppSettings::set##Name(Type given) {                                                      \
        const Type value = range(given);                                                           \
        assign(field, value, &AppSettings::key##Changed, QStringLiteral(#key), value, false);      \
    }

CORVINEL_SETTER(HasCompletedOnboarding, m_hasCompletedOnboarding, bool, hasCompletedOnboarding,
                value, false)
CORVINEL_SETTER(Model, m_model, const QString&, model, value, false)
CORVINEL_SETTER(TranscribeModel, m_transcribeModel, const QString&, transcribeModel, value, false)
CORVINEL_SETTER(DeviceUID, m_deviceUID, const QString&, deviceUID, value, false)
CORVINEL_RANGED_SETTER(MicChannel, m_micChannel, int, micChannel, micChannelIn)
CORVINEL_RANGED_SETTER(MeetingChannel, m_meetingChannel, int, meetingChannel, meetingChannelIn)
CORVINEL_SETTER(SaveAudio, m_saveAudio, bool, saveAudio, value, false)
CORVINEL_SETTER(AlwaysOnTop, m_alwaysOnTop, bool, alwaysOnTop, value, false)
CORVINEL_RANGED_SETTER(VadThreshold, m_vadThreshold, double, vadThreshold, vadThresholdIn)
CORVINEL_RANGED_SETTER(PrefixPaddingMs, m_prefixPaddingMs, int, prefixPaddingMs, prefixPaddingMsIn)
CORVINEL_RANGED_SETTER(SilenceDurationMs, m_silenceDurationMs, int, silenceDurationMs,
                       silenceDurationMsIn)
CORVINEL_SETTER(SystemPrompt, m_systemPrompt, const QString&, systemPrompt, value, true)
CORVINEL_SETTER(ContextText, m_contextText, const QString&, contextText, value, true)
CORVINEL_SETTER(ContextFileNames, m_contextFileNames, const QStringList&, contextFileNames, value,
                false)
CORVINEL_SETTER(MeetingSource, m_meetingSource, MeetingSource, meetingSource, rawValue(value),
                false)
CORVINEL_SETTER(TappedBundleID, m_tappedBundleID, const QString&, tappedBundleID, value, false)
CORVINEL_SETTER(StreamSource, m_streamSource, StreamSource, streamSource, rawValue(value), false)
CORVINEL_SETTER(Appearance, m_appearance, Appearance, appearance, rawValue(value), false)
CORVINEL_SETTER(TranscribeMyAnswers, m_transcribeMyAnswers, bool, transcribeMyAnswers, value, false)
CORVINEL_RANGED_SETTER(FollowUpWindow, m_followUpWindow, double, followUpWindow, followUpWindowIn)
CORVINEL_RANGED_SETTER(FontSize, m_fontSize, double, fontSize, fontSizeIn)
CORVINEL_SETTER(FontFamily, m_fontFamily, const QString&, fontFamily, value, false)
CORVINEL_SETTER(CompanyName, m_companyName, const QString&, companyName, value, true)
CORVINEL_SETTER(RoleTitle, m_roleTitle, const QString&, roleTitle, value, true)
CORVINEL_SETTER(JobDescription, m_jobDescription, const QString&, jobDescription, value, true)
CORVINEL_RANGED_SETTER(ReconnectMinutes, m_reconnectMinutes, int, reconnectMinutes,
                       reconnectMinutesIn)

#undef CORVINEL_SETTER
#undef CORVINEL_RANGED_SETTER

void AppSettings::setInterviewers(const Panel& value) {
    const bool isChange = m_interviewers != value;
    m_interviewers = value;
    if (isChange) {
        emit interviewersChanged();
        emit instructionsChanged();
    }
    write(QStringLiteral("interviewers"), encodePanel(value));
}

QFont AppSettings::font(double size, int weight) const {
    QFont font;
    if (m_fontFamily == QLatin1String("__mono"))
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    else if (!m_fontFamily.isEmpty() && QFontDatabase::families().contains(m_fontFamily))
        font = QFont(m_fontFamily);
    else
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(size);
    font.setWeight(QFont::Weight(weight));
    return font;
}
