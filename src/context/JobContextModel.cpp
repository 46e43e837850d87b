#include "context/JobContextModel.h"

#include "base/Assign.h"
#include "settings/AppSettings.h"
#include "settings/Graphemes.h"

JobContextModel::JobContextModel(AppSettings& settings, ApplyInstructions applyInstructionsLive,
                                 ClipboardText clipboardText, QObject* parent)
    : QObject(parent), m_settings(settings),
      m_applyInstructionsLive(std::move(applyInstructionsLive)),
      m_clipboardText(std::move(clipboardText)) {
    connect(&m_settings, &AppSettings::companyNameChanged, this,
            &JobContextModel::companyNameChanged);
    connect(&m_settings, &AppSettings::roleTitleChanged, this, &JobContextModel::roleTitleChanged);
    connect(&m_settings, &AppSettings::jobDescriptionChanged, this,
            &JobContextModel::jobDescriptionChanged);
    connect(&m_settings, &AppSettings::interviewersChanged, this,
            &JobContextModel::interviewersChanged);
    // The job description feeds the instructions: one signal covers every input of the line.
    connect(&m_settings, &AppSettings::instructionsChanged, this, &JobContextModel::refreshDerived);
    refreshDerived();
}

QString JobContextModel::companyName() const {
    return m_settings.companyName();
}
QString JobContextModel::roleTitle() const {
    return m_settings.roleTitle();
}
QString JobContextModel::jobDescription() const {
    return m_settings.jobDescription();
}

QStringList JobContextModel::interviewerNames() const {
    QStringList names;
    for (const Interviewer& member : m_settings.interviewers())
        names.append(member.name);
    return names;
}

QStringList JobContextModel::interviewerTitles() const {
    QStringList titles;
    for (const Interviewer& member : m_settings.interviewers())
        titles.append(member.title);
    return titles;
}

QString JobContextModel::applyLabel() const {
    return m_sessionActive ? QStringLiteral("Apply live") : QStringLiteral("Save");
}

void JobContextModel::setCompanyName(const QString& value) {
    m_settings.setCompanyName(value);
}
void JobContextModel::setRoleTitle(const QString& value) {
    m_settings.setRoleTitle(value);
}
void JobContextModel::setJobDescription(const QString& value) {
    m_settings.setJobDescription(value);
}

void JobContextModel::setSessionActive(bool active) {
    if (!assignIfChanged(m_sessionActive, active))
        return;
    emit sessionActiveChanged();
    emit applyLabelChanged();
}

void JobContextModel::setInterviewerName(int index, const QString& name) {
    editInterviewer(index, [&name](Interviewer& member) { member.name = name; });
}

void JobContextModel::setInterviewerTitle(int index, const QString& title) {
    editInterviewer(index, [&title](Interviewer& member) { member.title = title; });
}

void JobContextModel::editInterviewer(int index, const std::function<void(Interviewer&)>& edit) {
    if (index < 0 || index > 1)
        return;
    Panel panel = m_settings.interviewers();
    // The panel has exactly two members; mend one that someone else assigned otherwise.
    while (panel.size() < 2)
        panel.append(Interviewer::blank());
    panel.resize(2);
    edit(panel[index]);
    if (panel != m_settings.interviewers())
        m_settings.setInterviewers(panel);
}

void JobContextModel::paste() {
    if (!m_clipboardText)
        return;
    // An empty clipboard text would silently wipe the posting: it counts as no text.
    const std::optional<QString> text = m_clipboardText();
    if (text && !text->isEmpty())
        m_settings.setJobDescription(*text);
}

void JobContextModel::clear() {
    if (m_settings.jobDescription().isEmpty())
        return;
    m_settings.setJobDescription(QString());
    m_settings.setCompanyName(QString());
    m_settings.setRoleTitle(QString());
}

void JobContextModel::apply() {
    if (m_applyInstructionsLive)
        m_applyInstructionsLive();
    emit saved();
}

void JobContextModel::refreshDerived() {
    const QString line = QString::number(Graphemes::count(m_settings.jobDescription())) +
                         QStringLiteral(" chars \u00B7 prompt total ") +
                         QString::number(Graphemes::count(m_settings.instructions()));
    if (line != m_countsLine) {
        m_countsLine = line;
        emit countsLineChanged();
    }
    const bool canClear = !m_settings.jobDescription().isEmpty();
    if (canClear != m_canClear) {
        m_canClear = canClear;
        emit canClearChanged();
    }
}
