#pragma once

#include "settings/Interviewer.h"

#include <QFont>
#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <array>

// The program's single store of user settings. Every assignment notifies (on real change) and
// is written on the next turn of the event loop, so a slider's steps make one write, not one
// each; whatever is pending is written at exit too. Reading is strict, so an absent or
// mistyped value reads as the default. The API key is kept by SecretStore, never in the
// settings file.
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
    Q_PROPERTY(
        AnswerSpeed answerSpeed READ answerSpeed WRITE setAnswerSpeed NOTIFY answerSpeedChanged)
    Q_PROPERTY(AnswerLength answerLength READ answerLength WRITE setAnswerLength NOTIFY
                   answerLengthChanged)
    Q_PROPERTY(QString answerLanguage READ answerLanguage WRITE setAnswerLanguage NOTIFY
                   answerLanguageChanged)
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
    // Case names are the stored raw values; the first case is what an unknown value reads as,
    // but for AnswerSpeed and AnswerLength, whose default is the middle one.
    enum class MeetingSource { systemOutput, singleApp, audioDevice };
    Q_ENUM(MeetingSource)
    enum class StreamSource { meetingOnly, micOnly, both };
    Q_ENUM(StreamSource)
    enum class Appearance { system, light, dark };
    Q_ENUM(Appearance)
    // How long a reasoning model may think before it answers; balanced is the service's own
    // default, so a stored balanced asks for nothing the service would not do anyway.
    enum class AnswerSpeed { fastest, balanced, thorough };
    Q_ENUM(AnswerSpeed)
    // How long the drafted answers are; normal leaves the length to the prompt and the panel.
    enum class AnswerLength { brief, normal, detailed };
    Q_ENUM(AnswerLength)

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
    // The languages an answer can be asked in, by their English names, as stored; an empty
    // answerLanguage is the interviewer's own language.
    static QStringList answerLanguages();

    static QString rawValue(MeetingSource value);
    static QString rawValue(StreamSource value);
    static QString rawValue(Appearance value);
    static MeetingSource meetingSourceFromRaw(const QString& raw);
    static StreamSource streamSourceFromRaw(const QString& raw);
    static Appearance appearanceFromRaw(const QString& raw);

    // Whether the service takes a reasoning effort for `model`: the gpt-realtime-2 family
    // (2, 2.1, 2.1-mini and their dated snapshots), not earlier or foreign models.
    static bool takesReasoningEffort(const QString& model);
    // The session's `reasoning.effort` for `speed` ("minimal", "low", "medium"), or an empty
    // string when `model` does not take one and the field must not be sent.
    static QString reasoningEffort(const QString& model, AnswerSpeed speed);

    QString apiKey() const { return m_apiKey; }
    // Why the last key assigned could not be kept for the next start; empty once one is saved.
    QString apiKeySaveError() const { return m_apiKeySaveError; }
    // What loading found wrong with the key file's permissions (and fixed when it could), for
    // the user to be told once.
    QStringList keyFileNotices() const { return m_keyFileNotices; }
    bool hasCompletedOnboarding() const { return stored(Setting::hasCompletedOnboarding).toBool(); }
    QString model() const { return stored(Setting::model).toString(); }
    QString transcribeModel() const { return stored(Setting::transcribeModel).toString(); }
    QString deviceUID() const { return stored(Setting::deviceUID).toString(); }
    int micChannel() const { return stored(Setting::micChannel).toInt(); }
    int meetingChannel() const { return stored(Setting::meetingChannel).toInt(); }
    bool saveAudio() const { return stored(Setting::saveAudio).toBool(); }
    bool alwaysOnTop() const { return stored(Setting::alwaysOnTop).toBool(); }
    double vadThreshold() const { return stored(Setting::vadThreshold).toDouble(); }
    int prefixPaddingMs() const { return stored(Setting::prefixPaddingMs).toInt(); }
    int silenceDurationMs() const { return stored(Setting::silenceDurationMs).toInt(); }
    QString systemPrompt() const { return stored(Setting::systemPrompt).toString(); }
    QString contextText() const { return stored(Setting::contextText).toString(); }
    QStringList contextFileNames() const {
        return stored(Setting::contextFileNames).toStringList();
    }
    MeetingSource meetingSource() const {
        return MeetingSource(stored(Setting::meetingSource).toInt());
    }
    QString tappedBundleID() const { return stored(Setting::tappedBundleID).toString(); }
    StreamSource streamSource() const {
        return StreamSource(stored(Setting::streamSource).toInt());
    }
    Appearance appearance() const { return Appearance(stored(Setting::appearance).toInt()); }
    bool transcribeMyAnswers() const { return stored(Setting::transcribeMyAnswers).toBool(); }
    double followUpWindow() const { return stored(Setting::followUpWindow).toDouble(); }
    AnswerSpeed answerSpeed() const { return AnswerSpeed(stored(Setting::answerSpeed).toInt()); }
    AnswerLength answerLength() const {
        return AnswerLength(stored(Setting::answerLength).toInt());
    }
    QString answerLanguage() const { return stored(Setting::answerLanguage).toString(); }
    double fontSize() const { return stored(Setting::fontSize).toDouble(); }
    QString fontFamily() const { return stored(Setting::fontFamily).toString(); }
    Panel interviewers() const { return m_interviewers; }
    QString companyName() const { return stored(Setting::companyName).toString(); }
    QString roleTitle() const { return stored(Setting::roleTitle).toString(); }
    QString jobDescription() const { return stored(Setting::jobDescription).toString(); }
    int reconnectMinutes() const { return stored(Setting::reconnectMinutes).toInt(); }

    // Assembled afresh on every read.
    QString instructions() const;
    // The reasoning effort for the chosen model and answer speed; empty when the model takes none.
    QString reasoningEffort() const { return reasoningEffort(model(), answerSpeed()); }
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
    void setAnswerSpeed(AnswerSpeed value);
    void setAnswerLength(AnswerLength value);
    // A name not in answerLanguages() stores the interviewer's language.
    void setAnswerLanguage(const QString& value);
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
    void answerSpeedChanged();
    void answerLengthChanged();
    void answerLanguageChanged();
    void fontSizeChanged();
    void fontFamilyChanged();
    void interviewersChanged();
    void companyNameChanged();
    void roleTitleChanged();
    void jobDescriptionChanged();
    void reconnectMinutesChanged();
    void instructionsChanged();

private:
    // Every stored setting but the panel, in the order of the table in the implementation.
    enum class Setting {
        hasCompletedOnboarding,
        model,
        transcribeModel,
        deviceUID,
        micChannel,
        meetingChannel,
        saveAudio,
        alwaysOnTop,
        vadThreshold,
        prefixPaddingMs,
        silenceDurationMs,
        systemPrompt,
        contextText,
        contextFileNames,
        meetingSource,
        tappedBundleID,
        streamSource,
        appearance,
        transcribeMyAnswers,
        followUpWindow,
        answerSpeed,
        answerLength,
        answerLanguage,
        fontSize,
        fontFamily,
        companyName,
        roleTitle,
        jobDescription,
        reconnectMinutes,
        count
    };
    struct Spec;
    static const Spec& spec(Setting setting);

    const QVariant& stored(Setting setting) const { return m_values[size_t(setting)]; }
    void load();
    std::optional<Panel> handWrittenPanel() const;
    void assign(Setting setting, const QVariant& given);
    void write(const QString& key, const QVariant& value);
    void flush();

    QSettings m_store;
    bool m_reportedWriteFailure = false;
    bool m_flushPending = false;

    QString m_apiKey;
    QString m_apiKeySaveError;
    QStringList m_keyFileNotices;
    std::array<QVariant, size_t(Setting::count)> m_values;
    Panel m_interviewers;
};
