#include "ui/Commands.h"

#include "base/Assign.h"
#include "session/SessionController.h"
#include "settings/AppSettings.h"

#include <algorithm>

namespace {
const QString kAppearancePrefix = QStringLiteral("appearance.");
} // namespace

Commands::Commands(QObject* parent) : QObject(parent), m_menu(new CommandMenuModel(this)) {}

void Commands::setSettings(AppSettings* settings) {
    if (m_settings == settings)
        return;
    m_settings = settings;
    m_menu->setSettings(settings);
    emit settingsChanged();
}

void Commands::setSession(SessionController* session) {
    if (!assignIfChanged(m_session, session))
        return;
    emit sessionChanged();
}

void Commands::setUpdater(UpdateController* updater) {
    if (!assignIfChanged(m_updater, updater))
        return;
    emit updaterChanged();
}

QVariantList Commands::startStopShortcuts() {
    return {QStringLiteral("Ctrl+Return"), QStringLiteral("Ctrl+Enter")};
}

double Commands::clampFontSize(double size) {
    return std::min(std::max(size, minFontSize), maxFontSize);
}

void Commands::trigger(const QString& command) {
    if (command == QLatin1String("checkForUpdates"))
        checkForUpdates();
    else if (command == QLatin1String("askAboutScreen") && m_session)
        m_session->askAboutScreen(false);
    else if (command == QLatin1String("askAboutArea") && m_session)
        m_session->askAboutScreen(true);
    else if (command == QLatin1String("transcribeRecording"))
        emit transcribeRecordingRequested();
    else if (command == QLatin1String("openSessionReview"))
        emit sessionReviewRequested();
    else if (command == QLatin1String("alwaysOnTop"))
        toggleAlwaysOnTop();
    else if (command == QLatin1String("toggleAppearance"))
        toggleAppearance();
    else if (command == QLatin1String("biggerText"))
        biggerText();
    else if (command == QLatin1String("smallerText"))
        smallerText();
    else if (command == QLatin1String("resetTextSize"))
        resetTextSize();
    else if (command.startsWith(kAppearancePrefix) && m_settings)
        m_settings->setAppearance(
            AppSettings::appearanceFromRaw(command.mid(kAppearancePrefix.size())));
}

void Commands::checkForUpdates() {
    if (!m_updater)
        return;
    emit softwareUpdateRequested();
    m_updater->checkForUpdates();
}

void Commands::biggerText() {
    if (m_settings)
        m_settings->setFontSize(clampFontSize(m_settings->fontSize() + 1));
}

void Commands::smallerText() {
    if (m_settings)
        m_settings->setFontSize(clampFontSize(m_settings->fontSize() - 1));
}

void Commands::resetTextSize() {
    if (!m_settings)
        return;
    m_settings->setFontSize(defaultFontSize);
    m_settings->setFontFamily(QString());
}

void Commands::toggleAppearance() {
    if (!m_settings)
        return;
    using Appearance = AppSettings::Appearance;
    m_settings->setAppearance(m_settings->appearance() == Appearance::dark ? Appearance::light
                                                                           : Appearance::dark);
}

void Commands::toggleAlwaysOnTop() {
    if (m_settings)
        m_settings->setAlwaysOnTop(!m_settings->alwaysOnTop());
}

void Commands::startOrStop() {
    if (!m_session)
        return;
    if (m_session->isSessionActive())
        m_session->stop();
    else
        m_session->start();
}

void Commands::transcribeChosen(const QStringList& paths) {
    if (m_session && !paths.isEmpty())
        m_session->transcribeRecording(paths.constFirst());
}

void Commands::reviewChosen(const QStringList& paths) {
    if (m_session && !paths.isEmpty())
        m_session->openReview(paths.constFirst());
}
