#include "ui/Commands.h"

#include "settings/AppSettings.h"

#include <algorithm>

Commands::Commands(QObject* parent) : QObject(parent) {}

void Commands::setSettings(AppSettings* settings) {
    if (m_settings == settings)
        return;
    m_settings = settings;
    emit settingsChanged();
}

double Commands::clampFontSize(double size) {
    return std::min(std::max(size, minFontSize), maxFontSize);
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
