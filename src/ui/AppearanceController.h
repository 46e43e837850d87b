#pragma once

#include "settings/AppSettings.h"

#include <QObject>
#include <QPalette>

class DesktopColorScheme;

// Light, dark, or whatever the desktop prefers, applied to the whole application at once through
// its palette (the Fusion style draws every control from it).
class AppearanceController : public QObject {
    Q_OBJECT

public:
    explicit AppearanceController(QObject* parent = nullptr);

    static bool isDark(AppSettings::Appearance appearance, bool desktopPrefersDark);
    static QPalette lightPalette();
    static QPalette darkPalette();

    void setAppearance(AppSettings::Appearance appearance);
    bool dark() const { return m_dark; }

private:
    void apply();

    DesktopColorScheme* m_desktop;
    AppSettings::Appearance m_appearance = AppSettings::Appearance::system;
    bool m_applied = false;
    bool m_dark = false;
};
