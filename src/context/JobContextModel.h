#pragma once

#include "settings/Interviewer.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class AppSettings;

// The logic of the job-and-panel editor: company, role, the two panel members and the job
// description, all read from and written straight through to the settings; the counts line;
// Paste, Clear and the "Apply live" / "Save" button. The view binds to it and holds no state.
class JobContextModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString companyName READ companyName WRITE setCompanyName NOTIFY companyNameChanged)
    Q_PROPERTY(QString roleTitle READ roleTitle WRITE setRoleTitle NOTIFY roleTitleChanged)
    Q_PROPERTY(QString jobDescription READ jobDescription WRITE setJobDescription NOTIFY
                   jobDescriptionChanged)
    Q_PROPERTY(QStringList interviewerNames READ interviewerNames NOTIFY interviewersChanged)
    Q_PROPERTY(QStringList interviewerTitles READ interviewerTitles NOTIFY interviewersChanged)
    Q_PROPERTY(QString countsLine READ countsLine NOTIFY countsLineChanged)
    Q_PROPERTY(bool canClear READ canClear NOTIFY canClearChanged)
    Q_PROPERTY(
        bool sessionActive READ sessionActive WRITE setSessionActive NOTIFY sessionActiveChanged)
    Q_PROPERTY(QString applyLabel READ applyLabel NOTIFY applyLabelChanged)

public:
    // The clipboard's text, or nothing when it holds no text.
    using ClipboardText = std::function<std::optional<QString>()>;
    // Pushes the assembled instructions into a running session, or reports that they apply
    // at the next start (the session controller's applyInstructionsLive).
    using ApplyInstructions = std::function<void()>;

    JobContextModel(AppSettings& settings, ApplyInstructions applyInstructionsLive,
                    ClipboardText clipboardText, QObject* parent = nullptr);

    QString companyName() const;
    QString roleTitle() const;
    QString jobDescription() const;
    QStringList interviewerNames() const;
    QStringList interviewerTitles() const;
    QString countsLine() const { return m_countsLine; }
    bool canClear() const { return m_canClear; }
    bool sessionActive() const { return m_sessionActive; }
    QString applyLabel() const;

    void setCompanyName(const QString& value);
    void setRoleTitle(const QString& value);
    void setJobDescription(const QString& value);
    void setSessionActive(bool active);

    // Edits of panel member `index` (0 or 1); other indexes are ignored.
    Q_INVOKABLE void setInterviewerName(int index, const QString& name);
    Q_INVOKABLE void setInterviewerTitle(int index, const QString& title);

    // Replaces the job description with the clipboard's text; nothing when it holds none
    // (or only an empty text).
    Q_INVOKABLE void paste();
    // Empties job description, company and role; the panel stays.
    Q_INVOKABLE void clear();
    // The "Apply live" / "Save" button: applies the instructions, then reports saved().
    Q_INVOKABLE void apply();

signals:
    void companyNameChanged();
    void roleTitleChanged();
    void jobDescriptionChanged();
    void interviewersChanged();
    void countsLineChanged();
    void canClearChanged();
    void sessionActiveChanged();
    void applyLabelChanged();
    // After the button's action; the view closes its popover or sheet on it.
    void saved();

private:
    void editInterviewer(int index, const std::function<void(Interviewer&)>& edit);
    void refreshDerived();

    AppSettings& m_settings;
    ApplyInstructions m_applyInstructionsLive;
    ClipboardText m_clipboardText;
    bool m_sessionActive = false;
    QString m_countsLine;
    bool m_canClear = false;
};
