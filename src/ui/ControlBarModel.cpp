#include "ui/ControlBarModel.h"

#include "context/JobContextModel.h"
#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "ui/JobModels.h"
#include "ui/Symbols.h"

ControlBarModel::ControlBarModel(QObject* parent) : QObject(parent) {
    connect(&m_refresher, &DeviceRefresher::listed, this, &ControlBarModel::applyDevices);
    connect(&m_importer, &ContextImporter::finished, this, &ControlBarModel::contextImported);
    recompute();
}

ControlBarModel::~ControlBarModel() = default;

void ControlBarModel::setSession(SessionController* session) {
    if (m_session == session)
        return;
    m_session = session;
    wireSession();
    m_importer.setTargets(m_session, m_settings);
    rebuildJob();
    emit sessionChanged();
    recompute();
}

void ControlBarModel::setSettings(AppSettings* settings) {
    if (m_settings == settings)
        return;
    m_settings = settings;
    wireSettings();
    m_importer.setTargets(m_session, m_settings);
    rebuildJob();
    emit settingsChanged();
    recompute();
}

void ControlBarModel::setDeviceLister(DeviceRefresher::Lister lister) {
    m_refresher.setLister(std::move(lister));
}

void ControlBarModel::refreshDevices() {
    m_refresher.refresh();
}

void ControlBarModel::importContext(const QStringList& paths) {
    m_importer.import(paths);
}

void ControlBarModel::wireSession() {
    m_sessionConnections.clear();
    if (!m_session)
        return;
    for (auto changed :
         {&SessionController::isSessionActiveChanged, &SessionController::lastRecordingPathChanged,
          &SessionController::lastTranscriptPathChanged, &SessionController::sessionElapsedChanged,
          &SessionController::isAnsweringChanged, &SessionController::lastAnswerDurationChanged,
          &SessionController::costChanged, &SessionController::heardOutputChanged})
        m_sessionConnections.add(connect(m_session, changed, this, &ControlBarModel::recompute));
}

void ControlBarModel::wireSettings() {
    m_settingsConnections.clear();
    if (!m_settings)
        return;
    for (auto changed : {&AppSettings::streamSourceChanged, &AppSettings::appearanceChanged,
                         &AppSettings::meetingSourceChanged, &AppSettings::tappedBundleIDChanged,
                         &AppSettings::deviceUIDChanged, &AppSettings::meetingChannelChanged,
                         &AppSettings::micChannelChanged, &AppSettings::companyNameChanged,
                         &AppSettings::contextFileNamesChanged})
        m_settingsConnections.add(connect(m_settings, changed, this, &ControlBarModel::recompute));
}

void ControlBarModel::rebuildJob() {
    m_job = renewJobContextModel(m_job, m_settings, m_session, this);
    emit jobChanged();
}

void ControlBarModel::applyDevices(const DeviceSnapshot& snapshot) {
    m_devices = snapshot.devices;
    if (m_settings) {
        if (const std::optional<QString> uid =
                DeviceRefresher::chooseDeviceUID(m_settings->deviceUID(), snapshot))
            m_settings->setDeviceUID(*uid);
    }
    recompute();
    emit devicesRefreshed();
}

ControlBarLabels::Inputs ControlBarModel::gatherInputs() const {
    ControlBarLabels::Inputs in;
    if (m_session) {
        in.sessionActive = m_session->isSessionActive();
        in.hasLastRecording = m_session->lastRecordingPath().has_value();
        in.hasLastTranscript = m_session->lastTranscriptPath().has_value();
        in.sessionElapsed = m_session->sessionElapsed();
        in.answering = m_session->isAnswering();
        in.lastAnswerDuration = m_session->lastAnswerDuration();
        in.costSummary = m_session->costSummaryText();
        in.sessionCost = m_session->sessionCost();
        in.heardOutput = m_session->heardOutput();
    }
    if (m_settings) {
        in.streamSource = m_settings->streamSource();
        in.appearance = m_settings->appearance();
        in.meetingSource = m_settings->meetingSource();
        in.tappedBundleID = m_settings->tappedBundleID();
        in.deviceUID = m_settings->deviceUID();
        in.meetingChannel = m_settings->meetingChannel();
        in.micChannel = m_settings->micChannel();
        in.companyName = m_settings->companyName();
        in.contextFileCount = m_settings->contextFileNames().size();
    }
    in.devices = m_devices;
    return in;
}

void ControlBarModel::recompute() {
    ControlBarLabels::State state = ControlBarLabels::compute(gatherInputs());
    const bool clockMoved = state.clockText != m_state.clockText;
    m_state.clockText = state.clockText;
    const bool restMoved = !(state == m_state);
    m_state = std::move(state);
    if (clockMoved)
        emit clockTextChanged();
    if (restMoved)
        emit stateChanged();
}

QString ControlBarModel::showFilesCaption() {
    return Symbols::folder() + QStringLiteral(" Show files");
}
QString ControlBarModel::showFilesHelp() {
    return QStringLiteral("Reveal the saved .wav in ~/Documents/Corvinel");
}
QString ControlBarModel::clockSymbol() {
    return Symbols::clock();
}
QString ControlBarModel::clockHelp() {
    return QStringLiteral("Total meeting time");
}
QString ControlBarModel::answerTimerHelp() {
    return QStringLiteral("How long you have been answering");
}
QString ControlBarModel::meetingMeterLabel() {
    return QStringLiteral("Mtg");
}
QString ControlBarModel::screenHelp() {
    return QStringLiteral("Ask About the Screen (Shift+Ctrl+S)");
}
QString ControlBarModel::themeHelp() {
    return QStringLiteral("Toggle light / dark (Shift+Ctrl+L)");
}
QString ControlBarModel::smallerSymbol() {
    return Symbols::smallerText();
}
QString ControlBarModel::smallerHelp() {
    return QStringLiteral("Smaller answer text (Ctrl+-)");
}
QString ControlBarModel::biggerSymbol() {
    return Symbols::biggerText();
}
QString ControlBarModel::biggerHelp() {
    return QStringLiteral("Bigger answer text (Ctrl++)");
}
QString ControlBarModel::settingsSymbol() {
    return Symbols::gear();
}
QString ControlBarModel::settingsHelp() {
    return QStringLiteral("Settings");
}
QString ControlBarModel::saveAudioHelp() {
    return QStringLiteral(
        "Archive a 48 kHz stereo WAV (L = mic, R = meeting) to ~/Documents/Corvinel");
}
QString ControlBarModel::jobHelp() {
    return QStringLiteral("Company + job description you're being interviewed for");
}
QString ControlBarModel::contextHelp() {
    return QStringLiteral("Load resume / background notes (.txt, .md, .pdf, .rtf)");
}

QString ControlBarModel::contextChooserTitle() {
    return QStringLiteral("Load resume / background notes");
}

QStringList ControlBarModel::contextFileFilters() {
    return {QStringLiteral("Documents (*.txt *.md *.markdown *.pdf *.rtf *.text)"),
            QStringLiteral("Any text file (*)")};
}
