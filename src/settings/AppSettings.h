#pragma once

#include "settings/Interviewer.h"

#include <QFont>
#include <QObject>
#include <QSettings>
#include <QStringList>

// The program's single store of user settings. Every assignment notifies (on real change) and
// is written through at once; reading is strict, so an absent or mistyped value reads as the
// default. The API key is kept by SecretStore, never in the settings file.
class AppSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString apiKey READ apiKey WRITE setApiKey NOTIFY apiKeyChanged)
    Q_PROPERTY(QString apiKeySaveError READ apiKeySaveError NOTIFY apiKeySaveErrorChanged)
    Q_PROPERTY(bool hasCompletedOnboarding READ hasCompletedOnboarding WRITE
                   setHasCompletedOnboarding NOTIFY hasCompletedOnboardingChanged)
    Q_PROPERTY(QString model READ model WRITE setModel NOTIFY modelChanged)
    Q_PROPERTY(QString transcribeModel READ transcribeModel WRITE setTranscribeModel NOTIFY
                   transcribeModelChanged)
    Q_PROPERTY(QString deviceUID READ deviceUID WRITE setDeviceUID NOTIFY deviceUIDChanged)
    Q_PROPERTY(int micChannel READ micChannel WRITE setMicChannel NOTIFY micChannelChanged)
    Q_PROPERTY(
        int meetingChannel READ meetingChannel WRITE setMeetingChannel NOTIFY meetingChannelChanged)
    Q_PROPERTY(bool saveAudio READ saveAudio WRITE setSaveAudio NOTIFY saveAudioChanged)
    Q_PROPERTY(bool alwaysOnTop READ alwaysOnTop WRITE setAlwaysOnTop NOTIFY alwaysOnTopChanged)
    Q_PROPERTY(
        double vadThreshold READ vadThreshold WRITE setVadThreshold NOTIFY vadThresholdChanged)
    Q_PROPERTY(int prefixPaddingMs READ prefixPaddingMs WRITE setPrefixPaddingMs NOTIFY
                   prefixPaddingMsChanged)
    Q_PROPERTY(int silenceDurationMs READ silenceDurationMs WRITE setSilenceDurationMs NOTIFY
                   silenceDurationMsChanged)
    Q_PROPERTY(
        QString systemPrompt READ systemPrompt WRITE setSystemPrompt NOTIFY systemPromptChanged)
    Q_PROPERTY(QString contextText READ contextText WRITE setContextText NOTIFY contextTextChanged)
    Q_PROPERTY(QStringList contextFileNames READ contextFileNames WRITE setContextFileNames NOTIFY
                   contextFileNamesChanged)
    Q_PROPERTY(MeetingSource meetingSource READ meetingSource WRITE setMeetingSource NOTIFY
                   meetingSourceChanged)
    Q_PROPERTY(QString tappedBundleID READ tappedBundleID WRITE setTappedBundleID NOTIFY
                   tappedBundleIDChanged)
    Q_PROPERTY(StreamSource streamSource READ streamSource WRITE setStreamSource NOTIFY
                   streamSourceChanged)
    Q_PROPERTY(Appearance appearance READ appearance WRITE setAppearance NOTIFY appearanceChanged)
    Q_PROPERTY(bool transcribeMyAnswers READ transcribeMyAnswers WRITE setTranscribeMyAnswers NOTIFY
                   transcribeMyAnswersChanged)
    Q_PROPERTY(double followUpWindow READ followUpWindow WRITE setFollowUpWindow NOTIFY
                   followUpWindowChanged)
    Q_PROPERTY(double fontSize READ fontSize WRITE setFontSize NOTIFY fontSizeChanged)
    Q_PROPERTY(QString fontFamily READ fontFamily WRITE setFontFamily NOTIFY fontFamilyChanged)
    Q_PROPERTY(
        Panel interviewers READ interviewers WRITE setInterviewers NOTIFY interviewersChanged)
    Q_PROPERTY(QString companyName READ companyName WRITE setCompanyName NOTIFY companyNameChanged)
    Q_PROPERTY(QString roleTitle READ roleTitle WRITE setRoleTitle NOTIFY roleTitleChanged)
    Q_PROPERTY(QString jobDescription READ jobDescription WRITE setJobDescription NOTIFY
                   jobDescriptionChanged)
    Q_PROPERTY(int reconnectMinutes READ reconnectMinutes WRITE setReconnectMinutes NOTIFY
                   reconnectMinutesChanged)
    Q_PROPERTY(QString instructions READ instructions NOTIFY instructionsChanged)
    Q_PROPERTY(QStringList knownModels READ knownModels CONSTANT)
    Q_PROPERTY(QStringList knownTranscribeModels READ knownTranscribeModels CONSTANT)

public:
    // Case names are the stored raw values; the first case is what an unknown value reads as.
    enum class MeetingSource { systemOutput, singleApp, audioDevice };
    Q_ENUM(MeetingSource)
    enum class StreamSource { meetingOnly, micOnly, both };
    Q_ENUM(StreamSource)
    enum class Appearance { system, light, dark };
    Q_ENUM(Appearance)

    // Reads (and later writes) the INI file at `path`.
    explicit AppSettings(const QString& path = defaultPath(), QObject* parent = nullptr);
    ~AppSettings() override;

    // The process-wide instance, created on first use.
    static AppSettings& shared();
    // $XDG_CONFIG_HOME/Corvinel/Corvinel.conf
    static QString defaultPath();
    static QString defaultSystemPrompt();
    static QStringList knownModels();
    static QStringList knownTranscribeModels();

    static QString rawValue(MeetingSource value);
    static QString rawValue(StreamSource value);
    static QString rawValue(Appearance value);
    static MeetingSource meetingSourceFromRaw(const QString& raw);
    static StreamSource streamSourceFromRaw(const QString& raw);
    static Appearance appearanceFromRaw(const QString& raw);

    QString apiKey() const { return m_apiKey; }
    // Why the last key assigned could not be kept for the next start; empty once one is saved.
    QString apiKeySaveError() const { return m_apiKeySaveError; }
    // What loading found wrong with the key file's permissions (and fixed when it could), for
    // the user to be told once.
    QStringList keyFileNotices() const { return m_keyFileNotices; }
    bool hasCompletedOnboarding() const { return m_hasCompletedOnboarding; }
    QString model() const { return m_model; }
    QString transcribeModel() const { return m_transcribeModel; }
    QString deviceUID() const { return m_deviceUID; }
    int micChannel() const { return m_micChannel; }
    int meetingChannel() const { return m_meetingChannel; }
    bool saveAudio() const { return m_saveAudio; }
    bool alwaysOnTop() const { return m_alwaysOnTop; }
    double vadThreshold() const { return m_vadThreshold; }
    int prefixPaddingMs() const { return m_prefixPaddingMs; }
    int silenceDurationMs() const { return m_silenceDurationMs; }
    QString systemPrompt() const { return m_systemPrompt; }
    QString contextText() const { return m_contextText; }
    QStringList contextFileNames() const { return m_contextFileNames; }
    MeetingSource meetingSource() const { return m_meetingSource; }
    QString tappedBundleID() const { return m_tappedBundleID; }
    StreamSource streamSource() const { return m_streamSource; }
    Appearance appearance() const { return m_appearance; }
    bool transcribeMyAnswers() const { return m_transcribeMyAnswers; }
    double followUpWindow() const { return m_followUpWindow; }
    double fontSize() const { return m_fontSize; }
    QString fontFamily() const { return m_fontFamily; }
    Panel interviewers() const { return m_interviewers; }
    QString companyName() const { return m_companyName; }
    QString roleTitle() const { return m_roleTitle; }
    QString jobDescription() const { return m_jobDescription; }
    int reconnectMinutes() const { return m_reconnectMinutes; }

    // Assembled afresh on every read.
    QString instructions() const;
    // The chosen family at `size` points and `weight` (a QFont::Weight): the system font for an
    // empty family, its fixed-pitch counterpart for "__mono", and the system font too when the
    // named family is not installed.
    QFont font(double size, int weight) const;

    void setApiKey(const QString& value);
    void setHasCompletedOnboarding(bool value);
    void setModel(const QString& value);
    void setTranscribeModel(const QString& value);
    void setDeviceUID(const QString& value);
    void setMicChannel(int value);
    void setMeetingChannel(int value);
    void setSaveAudio(bool value);
    void setAlwaysOnTop(bool value);
    void setVadThreshold(double value);
    void setPrefixPaddingMs(int value);
    void setSilenceDurationMs(int value);
    void setSystemPrompt(const QString& value);
    void setContextText(const QString& value);
    void setContextFileNames(const QStringList& value);
    void setMeetingSource(MeetingSource value);
    void setTappedBundleID(const QString& value);
    void setStreamSource(StreamSource value);
    void setAppearance(Appearance value);
    void setTranscribeMyAnswers(bool value);
    void setFollowUpWindow(double value);
    void setFontSize(double value);
    void setFontFamily(const QString& value);
    void setInterviewers(const Panel& value);
    void setCompanyName(const QString& value);
    void setRoleTitle(const QString& value);
    void setJobDescription(const QString& value);
    void setReconnectMinutes(int value);

signals:
    void apiKeyChanged();
    void apiKeySaveErrorChanged();
    void hasCompletedOnboardingChanged();
    void modelChanged();
    void transcribeModelChanged();
    void deviceUIDChanged();
    void micChannelChanged();
    void meetingChannelChanged();
    void saveAudioChanged();
    void alwaysOnTopChanged();
    void vadThresholdChanged();
    void prefixPaddingMsChanged();
    void silenceDurationMsChanged();
    void systemPromptChanged();
    void contextTextChanged();
    void contextFileNamesChanged();
    void meetingSourceChanged();
    void tappedBundleIDChanged();
    void streamSourceChanged();
    void appearanceChanged();
    void transcribeMyAnswersChanged();
    void followUpWindowChanged();
    void fontSizeChanged();
    void fontFamilyChanged();
    void interviewersChanged();
    void companyNameChanged();
    void roleTitleChanged();
    void jobDescriptionChanged();
    void reconnectMinutesChanged();
    void instructionsChanged();

private:
    void load();
    std::optional<Panel> handWrittenPanel() const;
    void write(const QString& key, const QVariant& value);
    template <typename T>
    void assign(T& field, const T& value, void (AppSettings::*changed)(), const QString& key,
                const QVariant& stored, bool feedsInstructions = false);

    QSettings m_store;
    bool m_reportedWriteFailure = false;

    QString m_apiKey;
    QString m_apiKeySaveError;
    QStringList m_keyFileNotices;
    bool m_hasCompletedOnboarding = false;
    QString m_model;
    QString m_transcribeModel;
    QString m_deviceUID;
    int m_micChannel = 0;
    int m_meetingChannel = 1;
    bool m_saveAudio = false;
    bool m_alwaysOnTop = true;
    double m_vadThreshold = 0.5;
    int m_prefixPaddingMs = 300;
    int m_silenceDurationMs = 800;
    QString m_systemPrompt;
    QString m_contextText;
    QStringList m_contextFileNames;
    MeetingSource m_meetingSource = MeetingSource::systemOutput;
    QString m_tappedBundleID;
    StreamSource m_streamSource = StreamSource::meetingOnly;
    Appearance m_appearance = Appearance::system;
    bool m_transcribeMyAnswers = false;
    double m_followUpWindow = 8.0;
    double m_fontSize = 14.0;
    QString m_fontFamily;
    Panel m_interviewers;
    QString m_companyName;
    QString m_roleTitle;
    QString m_jobDescription;
    int m_reconnectMinutes = 25;
};
