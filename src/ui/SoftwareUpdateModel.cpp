#include "ui/SoftwareUpdateModel.h"

#include <QLocale>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextList>

SoftwareUpdateModel::SoftwareUpdateModel(QObject* parent) : QObject(parent) {}

void SoftwareUpdateModel::setUpdater(UpdateController* updater) {
    if (m_updater == updater)
        return;
    m_connections.clear();
    m_updater = updater;
    if (updater) {
        m_connections.add(connect(updater, &UpdateController::lastCheckChanged, this,
                                  &SoftwareUpdateModel::lastCheckTextChanged));
        m_connections.add(connect(updater, &UpdateController::releaseNotesChanged, this,
                                  &SoftwareUpdateModel::releaseNotesChanged));
        m_connections.add(connect(updater, &UpdateController::stateChanged, this,
                                  &SoftwareUpdateModel::canCheckChanged));
        m_connections.add(connect(updater, &UpdateController::statusTextChanged, this,
                                  &SoftwareUpdateModel::statusTextChanged));
        m_connections.add(connect(updater, &UpdateController::busyChanged, this,
                                  &SoftwareUpdateModel::busyChanged));
        m_connections.add(connect(updater, &UpdateController::canInstallChanged, this,
                                  &SoftwareUpdateModel::canInstallChanged));
        m_connections.add(connect(updater, &UpdateController::canRestartChanged, this,
                                  &SoftwareUpdateModel::canRestartChanged));
    }
    emit updaterChanged();
    emit statusTextChanged();
    emit busyChanged();
    emit canInstallChanged();
    emit canRestartChanged();
    emit lastCheckTextChanged();
    emit releaseNotesChanged();
    emit canCheckChanged();
}

QString SoftwareUpdateModel::lastCheckText(const QDateTime& when, const QDateTime& now) {
    if (!when.isValid())
        return QStringLiteral("Not checked yet");
    const QString time = when.time().toString(QStringLiteral("HH:mm"));
    if (when.date() == now.date())
        return QStringLiteral("Last checked: today at %1").arg(time);
    return QStringLiteral("Last checked: %1 at %2")
        .arg(QLocale().toString(when.date(), QLocale::ShortFormat), time);
}

QString SoftwareUpdateModel::lastCheckText() const {
    return lastCheckText(m_updater ? m_updater->lastCheck() : QDateTime(),
                         QDateTime::currentDateTime());
}

QString SoftwareUpdateModel::releaseNotesText() const {
    if (!m_updater)
        return {};
    QTextDocument document;
    document.setHtml(m_updater->releaseNotes());
    QStringList lines;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QString text = block.text().trimmed();
        if (!text.isEmpty())
            lines.append(block.textList() ? QStringLiteral("• ") + text : text);
    }
    return lines.join(u'\n');
}

QString SoftwareUpdateModel::releaseNotesLinkText() const {
    if (!m_updater || !m_updater->releaseNotesLink().isValid() ||
        m_updater->releaseNotesLink().isEmpty())
        return {};
    return QStringLiteral("<a href=\"%1\">Release notes</a>")
        .arg(m_updater->releaseNotesLink().toString(QUrl::FullyEncoded).toHtmlEscaped());
}

bool SoftwareUpdateModel::canCheck() const {
    if (!m_updater)
        return false;
    using State = UpdateController::State;
    switch (m_updater->state()) {
    case State::checking:
    case State::downloading:
    case State::verifying:
    case State::waitingForSession:
    case State::installing:
    case State::installed:
        return false;
    default:
        return true;
    }
}

void SoftwareUpdateModel::check() {
    if (m_updater)
        m_updater->checkForUpdates();
}

void SoftwareUpdateModel::install() {
    if (m_updater)
        m_updater->install();
}

void SoftwareUpdateModel::restart() {
    if (m_updater)
        m_updater->restartNow();
}
