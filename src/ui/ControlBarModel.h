#pragma once

#include "base/Wiring.h"
#include "context/JobContextModel.h"
#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "ui/ContextImporter.h"
#include "ui/ControlBarLabels.h"
#include "ui/DeviceRefresher.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

// Everything the control bar shows and decides: the labels, which items show, the help
// texts, the device list it reads once, the job editor it opens and the context import.
class ControlBarModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(SessionController* session READ session WRITE setSession NOTIFY sessionChanged)
    Q_PROPERTY(AppSettings* settings READ settings WRITE setSettings NOTIFY settingsChanged)
    Q_PROPERTY(JobContextModel* job READ job NOTIFY jobChanged)

    Q_PROPERTY(QString startLabel READ startLabel NOTIFY stateChanged)
    Q_PROPERTY(QString startCaption READ startCaption NOTIFY stateChanged)
    Q_PROPERTY(QString startColor READ startColorName NOTIFY stateChanged)
    Q_PROPERTY(bool showFilesVisible READ showFilesVisible NOTIFY stateChanged)
    Q_PROPERTY(bool clockVisible READ clockVisible NOTIFY stateChanged)
    // The one label that moves every second has its own signal: a tick re-reads no other.
    Q_PROPERTY(QString clockText READ clockText NOTIFY clockTextChanged)
    Q_PROPERTY(bool costVisible READ costVisible NOTIFY stateChanged)
    Q_PROPERTY(QString costText READ costText NOTIFY stateChanged)
    Q_PROPERTY(QString costHelp READ costHelp NOTIFY stateChanged)
    Q_PROPERTY(bool answerTimerVisible READ answerTimerVisible NOTIFY stateChanged)
    Q_PROPERTY(bool lastAnswerVisible READ lastAnswerVisible NOTIFY stateChanged)
    Q_PROPERTY(QString lastAnswerText READ lastAnswerText NOTIFY stateChanged)
    Q_PROPERTY(QString micMeterLabel READ micMeterLabel NOTIFY stateChanged)
    Q_PROPERTY(QString micMeterHelp READ micMeterHelp NOTIFY stateChanged)
    Q_PROPERTY(QString themeSymbol READ themeSymbol NOTIFY stateChanged)
    Q_PROPERTY(QString meetingSourceLabel READ meetingSourceLabel NOTIFY stateChanged)
    Q_PROPERTY(QString micLabel READ micLabel NOTIFY stateChanged)
    Q_PROPERTY(QString hearingCaption READ hearingCaption NOTIFY stateChanged)
    Q_PROPERTY(QString hearingHelp READ hearingHelp NOTIFY stateChanged)
    Q_PROPERTY(QString jobLabel READ jobLabel NOTIFY stateChanged)
    Q_PROPERTY(QString jobCaption READ jobCaption NOTIFY stateChanged)
    Q_PROPERTY(QString contextLabel READ contextLabel NOTIFY stateChanged)
    Q_PROPERTY(QString contextCaption READ contextCaption NOTIFY stateChanged)
    Q_PROPERTY(bool saveAudioEnabled READ saveAudioEnabled NOTIFY stateChanged)

    Q_PROPERTY(QString showFilesCaption READ showFilesCaption CONSTANT)
    Q_PROPERTY(QString showFilesHelp READ showFilesHelp CONSTANT)
    Q_PROPERTY(QString clockSymbol READ clockSymbol CONSTANT)
    Q_PROPERTY(QString clockHelp READ clockHelp CONSTANT)
    Q_PROPERTY(QString answerTimerHelp READ answerTimerHelp CONSTANT)
    Q_PROPERTY(QString meetingMeterLabel READ meetingMeterLabel CONSTANT)
    Q_PROPERTY(QString themeHelp READ themeHelp CONSTANT)
    Q_PROPERTY(QString screenSymbol READ screenSymbol CONSTANT)
    Q_PROPERTY(QString screenHelp READ screenHelp CONSTANT)
    Q_PROPERTY(QString smallerSymbol READ smallerSymbol CONSTANT)
    Q_PROPERTY(QString smallerHelp READ smallerHelp CONSTANT)
    Q_PROPERTY(QString biggerSymbol READ biggerSymbol CONSTANT)
    Q_PROPERTY(QString biggerHelp READ biggerHelp CONSTANT)
    Q_PROPERTY(QString settingsSymbol READ settingsSymbol CONSTANT)
    Q_PROPERTY(QString settingsHelp READ settingsHelp CONSTANT)
    Q_PROPERTY(QString saveAudioHelp READ saveAudioHelp CONSTANT)
    Q_PROPERTY(QString jobHelp READ jobHelp CONSTANT)
    Q_PROPERTY(QString contextHelp READ contextHelp CONSTANT)
    Q_PROPERTY(QString contextChooserTitle READ contextChooserTitle CONSTANT)
    Q_PROPERTY(QStringList contextFileFilters READ contextFileFilters CONSTANT)

public:
    explicit ControlBarModel(QObject* parent = nullptr);
    ~ControlBarModel() override;

    SessionController* session() const { return m_session; }
    void setSession(SessionController* session);
    AppSettings* settings() const { return m_settings; }
    void setSettings(AppSettings* settings);
    JobContextModel* job() const { return m_job; }

    // Replaces the sound-server reading (tests hand in their own devices).
    void setDeviceLister(DeviceRefresher::Lister lister);
    QList<AudioInputDevice> devices() const { return m_devices; }

    // Reads the input devices off the GUI thread; once the list arrives the stored device is
    // kept when present, else replaced by the default (or first) one.
    Q_INVOKABLE void refreshDevices();
    // The file chooser's answer: loads the documents off the GUI thread.
    Q_INVOKABLE void importContext(const QStringList& paths);

    const ControlBarLabels::State& state() const { return m_state; }
    QString startLabel() const { return m_state.startLabel; }
    QString startCaption() const { return m_state.startCaption; }
    QColor startColor() const { return m_state.startColor; }
    QString startColorName() const { return m_state.startColor.name(); }
    bool showFilesVisible() const { return m_state.showFilesVisible; }
    bool clockVisible() const { return m_state.clockVisible; }
    QString clockText() const { return m_state.clockText; }
    bool costVisible() const { return m_state.costVisible; }
    QString costText() const { return m_state.costText; }
    QString costHelp() const { return m_state.costHelp; }
    bool answerTimerVisible() const { return m_state.answerTimerVisible; }
    bool lastAnswerVisible() const { return m_state.lastAnswerVisible; }
    QString lastAnswerText() const { return m_state.lastAnswerText; }
    QString micMeterLabel() const { return m_state.micMeterLabel; }
    QString micMeterHelp() const { return m_state.micMeterHelp; }
    QString themeSymbol() const { return m_state.themeSymbol; }
    QString meetingSourceLabel() const { return m_state.meetingSourceLabel; }
    QString micLabel() const { return m_state.micLabel; }
    QString hearingCaption() const { return m_state.hearingCaption; }
    QString hearingHelp() const { return m_state.hearingHelp; }
    QString jobLabel() const { return m_state.jobLabel; }
    QString jobCaption() const { return m_state.jobCaption; }
    QString contextLabel() const { return m_state.contextLabel; }
    QString contextCaption() const { return m_state.contextCaption; }
    bool saveAudioEnabled() const { return m_state.saveAudioEnabled; }

    static QString contextChooserTitle();
    // Several files at once; plain text, PDF, RTF and Markdown first, any other text file too.
    static QStringList contextFileFilters();
    static QString showFilesCaption();
    static QString showFilesHelp();
    static QString clockSymbol();
    static QString clockHelp();
    static QString answerTimerHelp();
    static QString meetingMeterLabel();
    static QString themeHelp();
    static QString screenSymbol() { return QStringLiteral("\u25A3"); }
    static QString screenHelp();
    static QString smallerSymbol();
    static QString smallerHelp();
    static QString biggerSymbol();
    static QString biggerHelp();
    static QString settingsSymbol();
    static QString settingsHelp();
    static QString saveAudioHelp();
    static QString jobHelp();
    static QString contextHelp();

signals:
    void sessionChanged();
    void settingsChanged();
    void jobChanged();
    // Any label but the clock's moved.
    void stateChanged();
    void clockTextChanged();
    // The device list arrived and the stored device was settled.
    void devicesRefreshed();
    // The context documents were loaded and the outcome announced.
    void contextImported();

private:
    void wireSession();
    void wireSettings();
    void rebuildJob();
    void applyDevices(const DeviceSnapshot& snapshot);
    ControlBarLabels::Inputs gatherInputs() const;
    void recompute();

    QPointer<SessionController> m_session;
    QPointer<AppSettings> m_settings;
    Wiring m_sessionConnections;
    Wiring m_settingsConnections;
    JobContextModel* m_job = nullptr;
    DeviceRefresher m_refresher;
    ContextImporter m_importer;
    QList<AudioInputDevice> m_devices;
    ControlBarLabels::State m_state;
};
