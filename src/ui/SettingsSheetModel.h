#pragma once

#include "audio/AudioTypes.h"
#include "base/Wiring.h"
#include "context/JobContextModel.h"
#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "ui/ChoiceList.h"
#include "ui/DeviceRefresher.h"

#include <QFont>
#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

// A stepper's or slider's bounds.
struct NumberRange {
    Q_GADGET
    QML_VALUE_TYPE(numberRange)
    Q_PROPERTY(double from MEMBER from CONSTANT)
    Q_PROPERTY(double to MEMBER to CONSTANT)
    Q_PROPERTY(double step MEMBER step CONSTANT)

public:
    double from = 0;
    double to = 0;
    double step = 1;
};

// Everything the settings sheet shows and does: its pickers with their rows, the labels and
// captions that depend on the settings, the lists it reads when shown (microphones, apps, font
// families) and its actions. Every control writes through AppSettings.
class SettingsSheetModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(AppSettings* settings READ settings WRITE setSettings NOTIFY settingsChanged)
    Q_PROPERTY(SessionController* session READ session WRITE setSession NOTIFY sessionChanged)
    Q_PROPERTY(JobContextModel* job READ job NOTIFY jobChanged)

    Q_PROPERTY(ChoiceList* realtimeModel READ realtimeModel CONSTANT)
    Q_PROPERTY(ChoiceList* transcribeModel READ transcribeModel CONSTANT)
    Q_PROPERTY(ChoiceList* meetingSource READ meetingSource CONSTANT)
    Q_PROPERTY(ChoiceList* listenTo READ listenTo CONSTANT)
    Q_PROPERTY(ChoiceList* meetingChannel READ meetingChannel CONSTANT)
    Q_PROPERTY(ChoiceList* microphone READ microphone CONSTANT)
    Q_PROPERTY(ChoiceList* micChannel READ micChannel CONSTANT)
    Q_PROPERTY(ChoiceList* streamSource READ streamSource CONSTANT)
    Q_PROPERTY(ChoiceList* answerSpeed READ answerSpeed CONSTANT)
    Q_PROPERTY(ChoiceList* answerLength READ answerLength CONSTANT)
    Q_PROPERTY(ChoiceList* answerLanguage READ answerLanguage CONSTANT)
    Q_PROPERTY(ChoiceList* theme READ theme CONSTANT)
    Q_PROPERTY(ChoiceList* fontFamily READ fontFamily CONSTANT)

    Q_PROPERTY(QString customModel READ customModel WRITE setCustomModel NOTIFY customModelChanged)
    Q_PROPERTY(QString keyCaption READ keyCaption NOTIFY labelsChanged)
    Q_PROPERTY(QString cycleLabel READ cycleLabel NOTIFY labelsChanged)
    Q_PROPERTY(bool showsSystemOutputCaption READ showsSystemOutputCaption NOTIFY labelsChanged)
    Q_PROPERTY(bool showsAppPicker READ showsAppPicker NOTIFY labelsChanged)
    Q_PROPERTY(bool showsChannelPicker READ showsChannelPicker NOTIFY labelsChanged)
    Q_PROPERTY(QString streamCaption READ streamCaption NOTIFY labelsChanged)
    Q_PROPERTY(QString thresholdText READ thresholdText NOTIFY labelsChanged)
    Q_PROPERTY(QString prefixLabel READ prefixLabel NOTIFY labelsChanged)
    Q_PROPERTY(QString silenceLabel READ silenceLabel NOTIFY labelsChanged)
    Q_PROPERTY(QString followUpLabel READ followUpLabel NOTIFY labelsChanged)
    Q_PROPERTY(QString answerSpeedCaption READ answerSpeedCaption NOTIFY labelsChanged)
    Q_PROPERTY(QString fontSizeText READ fontSizeText NOTIFY labelsChanged)
    Q_PROPERTY(QFont previewFont READ previewFont NOTIFY labelsChanged)
    Q_PROPERTY(QString contextFilesText READ contextFilesText NOTIFY labelsChanged)
    Q_PROPERTY(bool hasContextFiles READ hasContextFiles NOTIFY labelsChanged)
    Q_PROPERTY(QString contextSizeText READ contextSizeText NOTIFY labelsChanged)
    Q_PROPERTY(bool canClearContext READ canClearContext NOTIFY labelsChanged)
    Q_PROPERTY(QString archiveCaption READ archiveCaption CONSTANT)

    Q_PROPERTY(NumberRange cycleRange READ cycleRange CONSTANT)
    Q_PROPERTY(NumberRange thresholdRange READ thresholdRange CONSTANT)
    Q_PROPERTY(NumberRange prefixRange READ prefixRange CONSTANT)
    Q_PROPERTY(NumberRange silenceRange READ silenceRange CONSTANT)
    Q_PROPERTY(NumberRange followUpRange READ followUpRange CONSTANT)
    Q_PROPERTY(NumberRange fontSizeRange READ fontSizeRange CONSTANT)

public:
    explicit SettingsSheetModel(QObject* parent = nullptr);
    ~SettingsSheetModel() override;

    AppSettings* settings() const { return m_settings; }
    void setSettings(AppSettings* settings);
    SessionController* session() const { return m_session; }
    void setSession(SessionController* session);
    JobContextModel* job() const { return m_job; }

    ChoiceList* realtimeModel() const { return m_realtimeModel; }
    ChoiceList* transcribeModel() const { return m_transcribeModel; }
    ChoiceList* meetingSource() const { return m_meetingSource; }
    ChoiceList* listenTo() const { return m_listenTo; }
    ChoiceList* meetingChannel() const { return m_meetingChannel; }
    ChoiceList* microphone() const { return m_microphone; }
    ChoiceList* micChannel() const { return m_micChannel; }
    ChoiceList* streamSource() const { return m_streamSource; }
    ChoiceList* answerSpeed() const { return m_answerSpeed; }
    ChoiceList* answerLength() const { return m_answerLength; }
    ChoiceList* answerLanguage() const { return m_answerLanguage; }
    ChoiceList* theme() const { return m_theme; }
    ChoiceList* fontFamily() const { return m_fontFamily; }

    QString customModel() const { return m_customModel; }
    void setCustomModel(const QString& text);

    QString keyCaption() const;
    QString cycleLabel() const;
    bool showsSystemOutputCaption() const;
    bool showsAppPicker() const;
    bool showsChannelPicker() const;
    QString streamCaption() const;
    QString thresholdText() const;
    QString prefixLabel() const;
    QString silenceLabel() const;
    QString followUpLabel() const;
    QString answerSpeedCaption() const;
    QString fontSizeText() const;
    QFont previewFont() const;
    QString contextFilesText() const;
    bool hasContextFiles() const;
    QString contextSizeText() const;
    bool canClearContext() const;
    static QString archiveCaption();

    static NumberRange cycleRange() { return {5, 55, 5}; }
    static NumberRange thresholdRange() { return {0.1, 0.9, 0.05}; }
    static NumberRange prefixRange() { return {0, 1000, 50}; }
    static NumberRange silenceRange() { return {200, 3000, 100}; }
    static NumberRange followUpRange() { return {0, 20, 1}; }
    static NumberRange fontSizeRange() { return {10, 36, 1}; }

    // "Key held on this computer (51 chars), …" or, with no key, where it would be kept.
    static QString keyCaption(int keyLength);
    // "Merge follow-ups within 8s", or "…: off" at 0.
    static QString followUpLabel(double seconds);
    // What the answer speed does with `model`, and that it does nothing where the model takes
    // no reasoning effort.
    static QString answerSpeedCaption(const QString& model);
    // The channel count the pickers offer: the chosen microphone's, 2 when it is not listed.
    static int channelCount(const QList<AudioInputDevice>& devices, const QString& uid);
    static ChoiceList::Rows meetingChannelRows(int channelCount);
    static ChoiceList::Rows micChannelRows(int channelCount);
    static ChoiceList::Rows appRows(const QList<AudioProcessInfo>& apps);
    // The known models, and the stored one as an extra row when it is none of them.
    static ChoiceList::Rows modelRows(const QString& stored);
    // "System", "System Mono", the families in ascending order, and a stored family that is
    // not installed as a last row of its own.
    static ChoiceList::Rows fontRows(QStringList families, const QString& stored);
    // "The interviewer's language" (stored as empty), then the languages an answer can be in.
    static ChoiceList::Rows answerLanguageRows();

    // Replaces the sound-server reading of the microphones (tests hand in their own); the apps
    // come from the session's listing.
    void setDeviceLister(DeviceRefresher::Lister lister);
    void setFamilies(const QStringList& families);

    // Fills the lists afresh.
    void refresh();
    // The view reports each showing; the lists are read again on it.
    Q_INVOKABLE void setShown(bool shown);
    Q_INVOKABLE void rescanDevices();
    Q_INVOKABLE void rescanApps();
    // Trims spaces and tabs; a non-empty id becomes the model and the field empties.
    Q_INVOKABLE void useCustomModel();
    // Rounded to the slider's hundredths, so the stored value is the one shown.
    Q_INVOKABLE void setVadThreshold(double value);
    Q_INVOKABLE void resetFont();
    Q_INVOKABLE void clearContext();
    Q_INVOKABLE void resetPrompt();
    Q_INVOKABLE void clearFeed();
    // The transcript as plain text on the clipboard, replacing what was there.
    Q_INVOKABLE void copyTranscript();
    Q_INVOKABLE void revealRecording();

signals:
    void settingsChanged();
    void sessionChanged();
    void jobChanged();
    void customModelChanged();
    void labelsChanged();
    // The device or app list arrived.
    void devicesListed();
    void appsListed();

private:
    void wireSettings();
    void rebuildJob();
    void refreshChoices();
    int chosenChannelCount() const;

    QPointer<AppSettings> m_settings;
    QPointer<SessionController> m_session;
    Wiring m_settingsConnections;
    JobContextModel* m_job = nullptr;
    DeviceRefresher m_refresher;
    QList<AudioInputDevice> m_devices;
    QList<AudioProcessInfo> m_apps;
    QStringList m_families;
    QString m_customModel;

    ChoiceList* m_realtimeModel;
    ChoiceList* m_transcribeModel;
    ChoiceList* m_meetingSource;
    ChoiceList* m_listenTo;
    ChoiceList* m_meetingChannel;
    ChoiceList* m_microphone;
    ChoiceList* m_micChannel;
    ChoiceList* m_streamSource;
    ChoiceList* m_answerSpeed;
    ChoiceList* m_answerLength;
    ChoiceList* m_answerLanguage;
    ChoiceList* m_theme;
    ChoiceList* m_fontFamily;
};
