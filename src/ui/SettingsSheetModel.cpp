#include "ui/SettingsSheetModel.h"

#include "audio/AppListing.h"
#include "base/Assign.h"
#include "base/Background.h"
#include "realtime/RealtimeEndpoint.h"
#include "session/SessionLog.h"
#include "settings/Graphemes.h"
#include "settings/SecretStore.h"
#include "ui/Commands.h"
#include "ui/JobModels.h"

#include <QClipboard>
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QRegularExpression>
#include <cmath>

namespace {

using Rows = ChoiceList::Rows;
using Source = AppSettings::MeetingSource;
using Stream = AppSettings::StreamSource;
using Speed = AppSettings::AnswerSpeed;
using Length = AppSettings::AnswerLength;

// Where the user would look for it: the home folder as "~".
QString shownPath(const QString& path) {
    const QString home = QDir::homePath();
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + u'/'))
        return QStringLiteral("~") + path.mid(home.size());
    return path;
}

QString apiHost() {
    const RealtimeEndpoint::Resolved resolved =
        RealtimeEndpoint::url(RealtimeEndpoint::overrideFromEnvironment(), QString());
    return resolved.error.isEmpty() ? resolved.url.host()
                                    : QUrl(RealtimeEndpoint::defaultBaseUrl).host();
}

Rows textRows(const QStringList& values) {
    Rows rows;
    for (const QString& value : values)
        rows.append({value, value});
    return rows;
}

} // namespace

SettingsSheetModel::SettingsSheetModel(QObject* parent) : QObject(parent) {
    const auto setting = [this](auto read) {
        return [this, read]() -> QVariant { return m_settings ? read(*m_settings) : QVariant(); };
    };
    const auto store = [this](auto write) {
        return [this, write](const QVariant& value) {
            if (m_settings)
                write(*m_settings, value);
        };
    };

    m_realtimeModel = new ChoiceList(
        [this] { return modelRows(m_settings ? m_settings->model() : QString()); },
        setting([](const AppSettings& s) { return QVariant(s.model()); }),
        store([](AppSettings& s, const QVariant& v) { s.setModel(v.toString()); }), this);
    m_transcribeModel = new ChoiceList(
        [] { return textRows(AppSettings::knownTranscribeModels()); },
        setting([](const AppSettings& s) { return QVariant(s.transcribeModel()); }),
        store([](AppSettings& s, const QVariant& v) { s.setTranscribeModel(v.toString()); }), this);
    m_meetingSource = new ChoiceList(
        [] {
            return Rows{
                {QStringLiteral("This computer's audio (automatic)"), int(Source::systemOutput)},
                {QStringLiteral("One app only"), int(Source::singleApp)},
                {QStringLiteral("Audio input device (interface, virtual source…)"),
                 int(Source::audioDevice)}};
        },
        setting([](const AppSettings& s) { return QVariant(int(s.meetingSource())); }),
        store([](AppSettings& s, const QVariant& v) { s.setMeetingSource(Source(v.toInt())); }),
        this);
    m_listenTo = new ChoiceList(
        [this] { return appRows(m_apps); },
        setting([](const AppSettings& s) { return QVariant(s.tappedBundleID()); }),
        store([](AppSettings& s, const QVariant& v) { s.setTappedBundleID(v.toString()); }), this);
    m_meetingChannel = new ChoiceList(
        [this] { return meetingChannelRows(chosenChannelCount()); },
        setting([](const AppSettings& s) { return QVariant(s.meetingChannel()); }),
        store([](AppSettings& s, const QVariant& v) { s.setMeetingChannel(v.toInt()); }), this);
    m_microphone = new ChoiceList(
        [this] {
            Rows rows;
            for (const AudioInputDevice& device : std::as_const(m_devices))
                rows.append({device.name, device.uid});
            return rows;
        },
        setting([](const AppSettings& s) { return QVariant(s.deviceUID()); }),
        store([](AppSettings& s, const QVariant& v) { s.setDeviceUID(v.toString()); }), this);
    m_micChannel = new ChoiceList(
        [this] { return micChannelRows(chosenChannelCount()); },
        setting([](const AppSettings& s) { return QVariant(s.micChannel()); }),
        store([](AppSettings& s, const QVariant& v) { s.setMicChannel(v.toInt()); }), this);
    m_streamSource = new ChoiceList(
        [] {
            return Rows{{QStringLiteral("Meeting channel only (your mic is not sent)"),
                         int(Stream::meetingOnly)},
                        {QStringLiteral("Mic only"), int(Stream::micOnly)},
                        {QStringLiteral("Both, mixed"), int(Stream::both)}};
        },
        setting([](const AppSettings& s) { return QVariant(int(s.streamSource())); }),
        store([](AppSettings& s, const QVariant& v) { s.setStreamSource(Stream(v.toInt())); }),
        this);
    m_answerSpeed = new ChoiceList(
        [] {
            return Rows{{QStringLiteral("Fastest"), int(Speed::fastest)},
                        {QStringLiteral("Balanced"), int(Speed::balanced)},
                        {QStringLiteral("Thorough"), int(Speed::thorough)}};
        },
        setting([](const AppSettings& s) { return QVariant(int(s.answerSpeed())); }),
        store([](AppSettings& s, const QVariant& v) { s.setAnswerSpeed(Speed(v.toInt())); }), this);
    m_answerLength = new ChoiceList(
        [] {
            return Rows{{QStringLiteral("Brief"), int(Length::brief)},
                        {QStringLiteral("Normal"), int(Length::normal)},
                        {QStringLiteral("Detailed"), int(Length::detailed)}};
        },
        setting([](const AppSettings& s) { return QVariant(int(s.answerLength())); }),
        store([](AppSettings& s, const QVariant& v) { s.setAnswerLength(Length(v.toInt())); }),
        this);
    m_answerLanguage = new ChoiceList(
        [] { return answerLanguageRows(); },
        setting([](const AppSettings& s) { return QVariant(s.answerLanguage()); }),
        store([](AppSettings& s, const QVariant& v) { s.setAnswerLanguage(v.toString()); }), this);
    m_theme = new ChoiceList(
        [] {
            using A = AppSettings::Appearance;
            return Rows{{QStringLiteral("Match system"), int(A::system)},
                        {QStringLiteral("Light"), int(A::light)},
                        {QStringLiteral("Dark"), int(A::dark)}};
        },
        setting([](const AppSettings& s) { return QVariant(int(s.appearance())); }),
        store([](AppSettings& s, const QVariant& v) {
            s.setAppearance(AppSettings::Appearance(v.toInt()));
        }),
        this);
    m_fontFamily = new ChoiceList(
        [this] { return fontRows(m_families, m_settings ? m_settings->fontFamily() : QString()); },
        setting([](const AppSettings& s) { return QVariant(s.fontFamily()); }),
        store([](AppSettings& s, const QVariant& v) { s.setFontFamily(v.toString()); }), this);

    connect(&m_refresher, &DeviceRefresher::listed, this, [this](const DeviceSnapshot& snapshot) {
        m_devices = snapshot.devices;
        refreshChoices();
        emit devicesListed();
    });
}

SettingsSheetModel::~SettingsSheetModel() = default;

void SettingsSheetModel::setSettings(AppSettings* settings) {
    if (m_settings == settings)
        return;
    m_settings = settings;
    wireSettings();
    rebuildJob();
    refreshChoices();
    emit settingsChanged();
    emit labelsChanged();
}

void SettingsSheetModel::setSession(SessionController* session) {
    if (m_session == session)
        return;
    m_session = session;
    rebuildJob();
    emit sessionChanged();
}

void SettingsSheetModel::wireSettings() {
    m_settingsConnections.clear();
    if (!m_settings)
        return;
    for (auto changed :
         {&AppSettings::apiKeyChanged, &AppSettings::apiKeySaveErrorChanged,
          &AppSettings::reconnectMinutesChanged, &AppSettings::meetingSourceChanged,
          &AppSettings::streamSourceChanged, &AppSettings::vadThresholdChanged,
          &AppSettings::prefixPaddingMsChanged, &AppSettings::silenceDurationMsChanged,
          &AppSettings::followUpWindowChanged, &AppSettings::modelChanged,
          &AppSettings::fontSizeChanged, &AppSettings::fontFamilyChanged,
          &AppSettings::contextTextChanged, &AppSettings::contextFileNamesChanged})
        m_settingsConnections.add(
            connect(m_settings, changed, this, &SettingsSheetModel::labelsChanged));
    for (auto changed : {&AppSettings::modelChanged, &AppSettings::transcribeModelChanged,
                         &AppSettings::meetingSourceChanged, &AppSettings::tappedBundleIDChanged,
                         &AppSettings::meetingChannelChanged, &AppSettings::deviceUIDChanged,
                         &AppSettings::micChannelChanged, &AppSettings::streamSourceChanged,
                         &AppSettings::answerSpeedChanged, &AppSettings::answerLengthChanged,
                         &AppSettings::answerLanguageChanged, &AppSettings::appearanceChanged,
                         &AppSettings::fontFamilyChanged})
        m_settingsConnections.add(
            connect(m_settings, changed, this, &SettingsSheetModel::refreshChoices));
}

void SettingsSheetModel::rebuildJob() {
    m_job = renewJobContextModel(m_job, m_settings, m_session, this);
    emit jobChanged();
}

void SettingsSheetModel::refreshChoices() {
    for (ChoiceList* choice :
         {m_realtimeModel, m_transcribeModel, m_meetingSource, m_listenTo, m_meetingChannel,
          m_microphone, m_micChannel, m_streamSource, m_answerSpeed, m_answerLength,
          m_answerLanguage, m_theme, m_fontFamily})
        choice->refresh();
}

int SettingsSheetModel::chosenChannelCount() const {
    return channelCount(m_devices, m_settings ? m_settings->deviceUID() : QString());
}

void SettingsSheetModel::setCustomModel(const QString& text) {
    if (!assignIfChanged(m_customModel, text))
        return;
    emit customModelChanged();
}

void SettingsSheetModel::setDeviceLister(DeviceRefresher::Lister lister) {
    m_refresher.setLister(std::move(lister));
}

void SettingsSheetModel::setFamilies(const QStringList& families) {
    m_families = families; // fontRows() puts them in order
    refreshChoices();
}

void SettingsSheetModel::refresh() {
    rescanDevices();
    rescanApps();
    setFamilies(QFontDatabase::families());
}

void SettingsSheetModel::setShown(bool shown) {
    if (shown)
        refresh();
}

void SettingsSheetModel::rescanDevices() {
    m_refresher.refresh();
}

void SettingsSheetModel::rescanApps() {
    if (!m_session)
        return;
    // Asking the sound server can take seconds: away from the GUI thread, like the devices.
    AppListing* apps = &m_session->apps();
    runInBackground(
        this, [apps] { return apps->selectableApps(); },
        [this](const QList<AudioProcessInfo>& listed) {
            m_apps = listed;
            m_listenTo->refresh();
            emit appsListed();
        });
}

void SettingsSheetModel::useCustomModel() {
    static const QRegularExpression ends(QStringLiteral("^[ \\t]+|[ \\t]+$"));
    const QString id = QString(m_customModel).remove(ends);
    if (id.isEmpty() || !m_settings)
        return;
    m_settings->setModel(id);
    setCustomModel(QString());
}

void SettingsSheetModel::setVadThreshold(double value) {
    if (m_settings)
        m_settings->setVadThreshold(std::round(value * 100) / 100);
}

void SettingsSheetModel::resetFont() {
    if (!m_settings)
        return;
    m_settings->setFontSize(Commands::defaultFontSize);
    m_settings->setFontFamily(QString());
}

void SettingsSheetModel::clearContext() {
    if (!m_settings)
        return;
    m_settings->setContextText(QString());
    m_settings->setContextFileNames({});
}

void SettingsSheetModel::resetPrompt() {
    if (m_settings)
        m_settings->setSystemPrompt(AppSettings::defaultSystemPrompt());
}

void SettingsSheetModel::clearFeed() {
    if (m_session)
        m_session->clearFeed();
}

void SettingsSheetModel::copyTranscript() {
    if (!m_session)
        return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_session->transcriptForExport());
}

void SettingsSheetModel::revealRecording() {
    if (m_session)
        m_session->revealRecording();
}

QString SettingsSheetModel::keyCaption() const {
    // Under the field, where the key was typed: a key that cannot be kept must not look kept.
    if (m_settings && !m_settings->apiKeySaveError().isEmpty())
        return m_settings->apiKeySaveError();
    return keyCaption(m_settings ? int(m_settings->apiKey().size()) : 0);
}

QString SettingsSheetModel::keyCaption(int keyLength) {
    const QString folder = shownPath(SecretStore::directory());
    if (keyLength > 0)
        return QStringLiteral("Key held on this computer (") + QString::number(keyLength) +
               QStringLiteral(" chars), 0600 file in ") + folder +
               QStringLiteral(". Sent only to ") + apiHost() + QStringLiteral(" over TLS.");
    return QStringLiteral("Stored on this computer only, in a 0600 file under ") + folder +
           QStringLiteral(". Falls back to the OPENAI_API_KEY environment variable.");
}

QString SettingsSheetModel::cycleLabel() const {
    return QStringLiteral("Cycle session every ") +
           QString::number(m_settings ? m_settings->reconnectMinutes() : 0) +
           QStringLiteral(" min");
}

bool SettingsSheetModel::showsSystemOutputCaption() const {
    return m_settings && m_settings->meetingSource() == Source::systemOutput;
}

bool SettingsSheetModel::showsAppPicker() const {
    return m_settings && m_settings->meetingSource() == Source::singleApp;
}

bool SettingsSheetModel::showsChannelPicker() const {
    return m_settings && m_settings->meetingSource() == Source::audioDevice;
}

QString SettingsSheetModel::streamCaption() const {
    if (m_settings && m_settings->streamSource() != Stream::meetingOnly)
        return QStringLiteral("Your microphone audio IS being streamed to OpenAI in this mode.");
    return QStringLiteral("Only the meeting channel is streamed to OpenAI — your microphone never "
                          "leaves the computer (it is still written to the local WAV if enabled).");
}

QString SettingsSheetModel::thresholdText() const {
    return QString::asprintf("%.2f", m_settings ? m_settings->vadThreshold() : 0.0);
}

QString SettingsSheetModel::prefixLabel() const {
    return QStringLiteral("Prefix padding ") +
           QString::number(m_settings ? m_settings->prefixPaddingMs() : 0) + QStringLiteral(" ms");
}

QString SettingsSheetModel::silenceLabel() const {
    return QStringLiteral("Silence duration ") +
           QString::number(m_settings ? m_settings->silenceDurationMs() : 0) +
           QStringLiteral(" ms");
}

QString SettingsSheetModel::followUpLabel() const {
    return followUpLabel(m_settings ? m_settings->followUpWindow() : 0);
}

QString SettingsSheetModel::followUpLabel(double seconds) {
    if (seconds == 0)
        return QStringLiteral("Merge follow-ups: off");
    return QStringLiteral("Merge follow-ups within ") + QString::number(qint64(seconds)) +
           QStringLiteral("s");
}

QString SettingsSheetModel::answerSpeedCaption() const {
    return answerSpeedCaption(m_settings ? m_settings->model() : QString());
}

QString SettingsSheetModel::answerSpeedCaption(const QString& model) {
    // Said plainly when the choice is not sent: the picker stays usable for a later model.
    if (!AppSettings::takesReasoningEffort(model))
        return QStringLiteral("The chosen model always answers at its own pace.");
    return QStringLiteral("Fastest answers soonest; Thorough thinks longer before it answers.");
}

QString SettingsSheetModel::fontSizeText() const {
    return QString::number(m_settings ? m_settings->fontSize() : 0) + QStringLiteral(" pt");
}

QFont SettingsSheetModel::previewFont() const {
    return m_settings ? m_settings->font(m_settings->fontSize(), QFont::Normal) : QFont();
}

QString SettingsSheetModel::contextFilesText() const {
    if (!hasContextFiles())
        return QStringLiteral("No context documents loaded.");
    return m_settings->contextFileNames().join(QStringLiteral(", "));
}

bool SettingsSheetModel::hasContextFiles() const {
    return m_settings && !m_settings->contextFileNames().isEmpty();
}

QString SettingsSheetModel::contextSizeText() const {
    return QString::number(m_settings ? Graphemes::count(m_settings->contextText()) : 0) +
           QStringLiteral(" characters");
}

bool SettingsSheetModel::canClearContext() const {
    return m_settings && !m_settings->contextText().isEmpty();
}

QString SettingsSheetModel::archiveCaption() {
    return QStringLiteral(
               "Stream to OpenAI: 24 kHz mono PCM16. Archive: 48 kHz stereo WAV, L = mic, "
               "R = meeting, in ") +
           shownPath(sessionDirectory()) + QStringLiteral(".");
}

int SettingsSheetModel::channelCount(const QList<AudioInputDevice>& devices, const QString& uid) {
    for (const AudioInputDevice& device : devices)
        if (device.uid == uid)
            return device.channelCount;
    return 2;
}

Rows SettingsSheetModel::meetingChannelRows(int channelCount) {
    Rows rows{{QStringLiteral("None (mic only)"), -1}};
    rows.append(micChannelRows(channelCount));
    return rows;
}

Rows SettingsSheetModel::micChannelRows(int channelCount) {
    Rows rows;
    for (int i = 0; i < channelCount; ++i)
        rows.append({QStringLiteral("Channel ") + QString::number(i + 1), i});
    return rows;
}

Rows SettingsSheetModel::appRows(const QList<AudioProcessInfo>& apps) {
    if (apps.isEmpty())
        return {{QStringLiteral("No apps found"), QVariant()}};
    Rows rows;
    for (const AudioProcessInfo& app : apps)
        rows.append(
            {app.objectID ? app.name + QStringLiteral(" — playing now") : app.name, app.bundleID});
    return rows;
}

Rows SettingsSheetModel::modelRows(const QString& stored) {
    const QStringList known = AppSettings::knownModels();
    Rows rows = textRows(known);
    if (!known.contains(stored))
        rows.append({stored, stored});
    return rows;
}

Rows SettingsSheetModel::answerLanguageRows() {
    // The empty value is a real choice: a row without one would store nothing when picked.
    Rows rows{{QStringLiteral("The interviewer's language"), QString()}};
    rows.append(textRows(AppSettings::answerLanguages()));
    return rows;
}

Rows SettingsSheetModel::fontRows(QStringList families, const QString& stored) {
    std::sort(families.begin(), families.end());
    Rows rows{{QStringLiteral("System"), QString()},
              {QStringLiteral("System Mono"), QStringLiteral("__mono")}};
    rows.append(textRows(families));
    if (!stored.isEmpty() && stored != QStringLiteral("__mono") && !families.contains(stored))
        rows.append({stored, stored});
    return rows;
}
