#include "settings/AppSettings.h"

#include "base/Assign.h"
#include "settings/Instructions.h"
#include "settings/SecretStore.h"
#include "settings/StoredValue.h"

#include <QCoreApplication>
#include <QFile>
#include <QFontDatabase>
#include <QMetaEnum>
#include <QStandardPaths>
#include <QTimer>
#include <QtDebug>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {
const QString kKeyFile = QStringLiteral("openai.key");

template <typename E> QString enumRaw(E value) {
    return QString::fromLatin1(QMetaEnum::fromType<E>().valueToKey(int(value)));
}

std::optional<int> caseValue(const QMetaEnum& cases, const QString& raw) {
    bool ok = false;
    const int value = cases.keyToValue(raw.toLatin1().constData(), &ok);
    // keyToValue also accepts "A|B" and scoped names; only an exact case name counts.
    if (!ok || QLatin1String(cases.valueToKey(value)) != raw)
        return std::nullopt;
    return value;
}

template <typename E> E enumFromRaw(const QString& raw) {
    const QMetaEnum cases = QMetaEnum::fromType<E>();
    return E(caseValue(cases, raw).value_or(cases.value(0)));
}

Panel twoBlankInterviewers() {
    return {Interviewer::blank(), Interviewer::blank()};
}

constexpr double noLimit = std::numeric_limits<int>::max();
} // namespace

// One row per stored setting: its key, how the file's value is read, its default, its range (or
// the names it may hold) and whether the model's instructions are built from it.
struct AppSettings::Spec {
    enum class Kind {
        flag,
        whole,  // an int within [low, high]
        real,   // a finite double within [low, high]; NaN and infinities read as the default
        name,   // a single word or identifier
        text,   // free text, which a person may have typed in with commas
        names,  // a list of strings
        choice, // an enum stored as its case name; unknown names read as the default
        listed, // one of the names `offered` gives; any other reads as the default
    };
    const char* key;
    Kind kind;
    QVariant fallback;
    void (AppSettings::*changed)();
    double low = 0;
    double high = 0;
    bool feedsInstructions = false;
    QMetaEnum choices{};
    QStringList (*offered)() = nullptr;

    // The ranges the settings window offers. A value from outside them (a hand-edited file, an
    // old version) is brought into range on reading and on assignment: "nan" would go out as
    // JSON null, and a huge reconnect period overflows the cycle timer.
    QVariant bounded(const QVariant& value) const {
        if (kind == Kind::whole)
            return std::clamp(value.toInt(), int(low), int(high));
        if (kind == Kind::real) {
            const double number = value.toDouble();
            return std::isfinite(number) ? std::clamp(number, low, high) : fallback;
        }
        if (kind == Kind::listed)
            return offered().contains(value.toString()) ? value : fallback;
        return value;
    }

    std::optional<QVariant> read(const QVariant& stored) const {
        using namespace StoredValue;
        switch (kind) {
        case Kind::flag:
            return toBool(stored);
        case Kind::whole:
            return toInt(stored);
        case Kind::real:
            return toDouble(stored);
        case Kind::name:
        case Kind::listed:
            return toString(stored);
        case Kind::text:
            return toText(stored);
        case Kind::names:
            return toStringList(stored);
        case Kind::choice: {
            const std::optional<QString> raw = toString(stored);
            const std::optional<int> value = raw ? caseValue(choices, *raw) : std::nullopt;
            return value ? std::optional<QVariant>(*value) : std::nullopt;
        }
        }
        return std::nullopt;
    }

    QVariant toStore(const QVariant& value) const {
        if (kind == Kind::choice)
            return QString::fromLatin1(choices.valueToKey(value.toInt()));
        return value;
    }
};

const AppSettings::Spec& AppSettings::spec(Setting setting) {
    using K = Spec::Kind;
    using S = AppSettings;
    static const Spec table[] = {
        {"hasCompletedOnboarding", K::flag, false, &S::hasCompletedOnboardingChanged},
        {"model", K::name, QStringLiteral("gpt-realtime-2.1"), &S::modelChanged},
        {"transcribeModel", K::name, QStringLiteral("gpt-live-transcribe"),
         &S::transcribeModelChanged},
        {"deviceUID", K::text, QString(), &S::deviceUIDChanged},
        {"micChannel", K::whole, 0, &S::micChannelChanged, 0, noLimit},
        {"meetingChannel", K::whole, 1, &S::meetingChannelChanged, -1, noLimit},
        {"saveAudio", K::flag, false, &S::saveAudioChanged},
        {"alwaysOnTop", K::flag, true, &S::alwaysOnTopChanged},
        {"vadThreshold", K::real, 0.5, &S::vadThresholdChanged, 0.1, 0.9},
        {"prefixPaddingMs", K::whole, 300, &S::prefixPaddingMsChanged, 0, 1000},
        {"silenceDurationMs", K::whole, 800, &S::silenceDurationMsChanged, 200, 3000},
        {"systemPrompt", K::text, defaultSystemPrompt(), &S::systemPromptChanged, 0, 0, true},
        {"contextText", K::text, QString(), &S::contextTextChanged, 0, 0, true},
        {"contextFileNames", K::names, QStringList(), &S::contextFileNamesChanged},
        {"meetingSource", K::choice, int(MeetingSource::systemOutput), &S::meetingSourceChanged, 0,
         0, false, QMetaEnum::fromType<MeetingSource>()},
        {"tappedBundleID", K::name, QString(), &S::tappedBundleIDChanged},
        {"streamSource", K::choice, int(StreamSource::meetingOnly), &S::streamSourceChanged, 0, 0,
         false, QMetaEnum::fromType<StreamSource>()},
        {"appearance", K::choice, int(Appearance::system), &S::appearanceChanged, 0, 0, false,
         QMetaEnum::fromType<Appearance>()},
        {"transcribeMyAnswers", K::flag, false, &S::transcribeMyAnswersChanged},
        {"followUpWindow", K::real, 8.0, &S::followUpWindowChanged, 0.0, 20.0},
        {"answerSpeed", K::choice, int(AnswerSpeed::balanced), &S::answerSpeedChanged, 0, 0, false,
         QMetaEnum::fromType<AnswerSpeed>()},
        {"answerLength", K::choice, int(AnswerLength::normal), &S::answerLengthChanged, 0, 0, true,
         QMetaEnum::fromType<AnswerLength>()},
        {"answerLanguage", K::listed, QString(), &S::answerLanguageChanged, 0, 0, true, QMetaEnum(),
         &S::answerLanguages},
        {"fontSize", K::real, 14.0, &S::fontSizeChanged, 10.0, 36.0},
        {"fontFamily", K::text, QString(), &S::fontFamilyChanged},
        {"companyName", K::text, QString(), &S::companyNameChanged, 0, 0, true},
        {"roleTitle", K::text, QString(), &S::roleTitleChanged, 0, 0, true},
        {"jobDescription", K::text, QString(), &S::jobDescriptionChanged, 0, 0, true},
        {"reconnectMinutes", K::whole, 25, &S::reconnectMinutesChanged, 5, 55},
    };
    static_assert(std::size(table) == size_t(Setting::count));
    return table[size_t(setting)];
}

AppSettings::AppSettings(const QString& path, QObject* parent)
    : QObject(parent), m_store(path, QSettings::IniFormat) {
    load();
    // The shared instance is never destroyed: what is pending is written as the app quits.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &AppSettings::flush);
}

AppSettings::~AppSettings() {
    flush();
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

QStringList AppSettings::answerLanguages() {
    // In alphabetical order, so the picker is quick to scan.
    return {QStringLiteral("Arabic"),   QStringLiteral("Chinese"),    QStringLiteral("Czech"),
            QStringLiteral("Danish"),   QStringLiteral("Dutch"),      QStringLiteral("English"),
            QStringLiteral("Finnish"),  QStringLiteral("French"),     QStringLiteral("German"),
            QStringLiteral("Greek"),    QStringLiteral("Hindi"),      QStringLiteral("Italian"),
            QStringLiteral("Japanese"), QStringLiteral("Korean"),     QStringLiteral("Norwegian"),
            QStringLiteral("Polish"),   QStringLiteral("Portuguese"), QStringLiteral("Russian"),
            QStringLiteral("Spanish"),  QStringLiteral("Swedish"),    QStringLiteral("Turkish"),
            QStringLiteral("Ukrainian")};
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

bool AppSettings::takesReasoningEffort(const QString& model) {
    return model.startsWith(QLatin1String("gpt-realtime-2"));
}

QString AppSettings::reasoningEffort(const QString& model, AnswerSpeed speed) {
    if (!takesReasoningEffort(model))
        return QString();
    // Nothing above "medium": "high" and "xhigh" think for seconds, and an answer is wanted
    // about a second after the question ends.
    switch (speed) {
    case AnswerSpeed::fastest:
        return QStringLiteral("minimal");
    case AnswerSpeed::balanced:
        return QStringLiteral("low");
    case AnswerSpeed::thorough:
        return QStringLiteral("medium");
    }
    return QStringLiteral("low");
}

void AppSettings::load() {
    SecretStore::migrateIfNeeded(kKeyFile);
    m_keyFileNotices = SecretStore::securePermissions();
    m_apiKey = SecretStore::readKey();
    if (m_apiKey.isEmpty())
        m_apiKey = qEnvironmentVariable("OPENAI_API_KEY"); // as given, not trimmed

    for (size_t i = 0; i < m_values.size(); ++i) {
        const Spec& row = spec(Setting(i));
        const std::optional<QVariant> read = row.read(m_store.value(QLatin1String(row.key)));
        m_values[i] = read ? row.bounded(*read) : row.fallback;
    }

    // The panel always has two members; anything else is replaced in memory only, so the
    // stored value stays until the user edits the panel.
    const std::optional<QByteArray> data =
        StoredValue::toData(m_store.value(QStringLiteral("interviewers")));
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
    return assembleInstructions({systemPrompt(), companyName(), roleTitle(), jobDescription(),
                                 m_interviewers, contextText(), answerLength(), answerLanguage()});
}

void AppSettings::write(const QString& key, const QVariant& value) {
    m_store.setValue(key, value);
    if (std::exchange(m_flushPending, true))
        return;
    QTimer::singleShot(0, this, &AppSettings::flush);
}

void AppSettings::flush() {
    if (!std::exchange(m_flushPending, false))
        return;
    m_store.sync();
    if (m_store.status() != QSettings::NoError && !m_reportedWriteFailure) {
        m_reportedWriteFailure = true;
        qWarning().noquote() << "[Corvinel] settings could not be written to" << m_store.fileName();
    }
}

void AppSettings::assign(Setting setting, const QVariant& given) {
    const Spec& row = spec(setting);
    const QVariant value = row.bounded(given);
    QVariant& field = m_values[size_t(setting)];
    const bool isChange = field != value;
    field = value;
    if (isChange) {
        emit(this->*row.changed)();
        if (row.feedsInstructions)
            emit instructionsChanged();
    }
    write(QLatin1String(row.key), row.toStore(value));
}

void AppSettings::setApiKey(const QString& value) {
    if (assignIfChanged(m_apiKey, value))
        emit apiKeyChanged();
    const QString error = SecretStore::save(value).value_or(QString());
    if (assignIfChanged(m_apiKeySaveError, error))
        emit apiKeySaveErrorChanged();
}

// Each assignment goes through the table's row for its key.
void AppSettings::setHasCompletedOnboarding(bool value) {
    assign(Setting::hasCompletedOnboarding, value);
}
void AppSettings::setModel(const QString& value) {
    assign(Setting::model, value);
}
void AppSettings::setTranscribeModel(const QString& value) {
    assign(Setting::transcribeModel, value);
}
void AppSettings::setDeviceUID(const QString& value) {
    assign(Setting::deviceUID, value);
}
void AppSettings::setMicChannel(int value) {
    assign(Setting::micChannel, value);
}
void AppSettings::setMeetingChannel(int value) {
    assign(Setting::meetingChannel, value);
}
void AppSettings::setSaveAudio(bool value) {
    assign(Setting::saveAudio, value);
}
void AppSettings::setAlwaysOnTop(bool value) {
    assign(Setting::alwaysOnTop, value);
}
void AppSettings::setVadThreshold(double value) {
    assign(Setting::vadThreshold, value);
}
void AppSettings::setPrefixPaddingMs(int value) {
    assign(Setting::prefixPaddingMs, value);
}
void AppSettings::setSilenceDurationMs(int value) {
    assign(Setting::silenceDurationMs, value);
}
void AppSettings::setSystemPrompt(const QString& value) {
    assign(Setting::systemPrompt, value);
}
void AppSettings::setContextText(const QString& value) {
    assign(Setting::contextText, value);
}
void AppSettings::setContextFileNames(const QStringList& value) {
    assign(Setting::contextFileNames, value);
}
void AppSettings::setMeetingSource(MeetingSource value) {
    assign(Setting::meetingSource, int(value));
}
void AppSettings::setTappedBundleID(const QString& value) {
    assign(Setting::tappedBundleID, value);
}
void AppSettings::setStreamSource(StreamSource value) {
    assign(Setting::streamSource, int(value));
}
void AppSettings::setAppearance(Appearance value) {
    assign(Setting::appearance, int(value));
}
void AppSettings::setTranscribeMyAnswers(bool value) {
    assign(Setting::transcribeMyAnswers, value);
}
void AppSettings::setFollowUpWindow(double value) {
    assign(Setting::followUpWindow, value);
}
void AppSettings::setAnswerSpeed(AnswerSpeed value) {
    assign(Setting::answerSpeed, int(value));
}
void AppSettings::setAnswerLength(AnswerLength value) {
    assign(Setting::answerLength, int(value));
}
void AppSettings::setAnswerLanguage(const QString& value) {
    assign(Setting::answerLanguage, value);
}
void AppSettings::setFontSize(double value) {
    assign(Setting::fontSize, value);
}
void AppSettings::setFontFamily(const QString& value) {
    assign(Setting::fontFamily, value);
}
void AppSettings::setCompanyName(const QString& value) {
    assign(Setting::companyName, value);
}
void AppSettings::setRoleTitle(const QString& value) {
    assign(Setting::roleTitle, value);
}
void AppSettings::setJobDescription(const QString& value) {
    assign(Setting::jobDescription, value);
}
void AppSettings::setReconnectMinutes(int value) {
    assign(Setting::reconnectMinutes, value);
}

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
    const QString family = fontFamily();
    if (family == QLatin1String("__mono"))
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    else if (!family.isEmpty() && QFontDatabase::families().contains(family))
        font = QFont(family);
    else
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(size);
    font.setWeight(QFont::Weight(weight));
    return font;
}
