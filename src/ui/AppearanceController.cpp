#include "ui/AppearanceController.h"

#include "ui/DesktopColorScheme.h"

#include <QGuiApplication>

AppearanceController::AppearanceController(QObject* parent)
    : QObject(parent), m_desktop(new DesktopColorScheme(this)) {
    connect(m_desktop, &DesktopColorScheme::prefersDarkChanged, this, [this] {
        if (m_appearance == AppSettings::Appearance::system)
            apply();
    });
}

bool AppearanceController::isDark(AppSettings::Appearance appearance, bool desktopPrefersDark) {
    switch (appearance) {
    case AppSettings::Appearance::light:
        return false;
    case AppSettings::Appearance::dark:
        return true;
    case AppSettings::Appearance::system:
        break;
    }
    return desktopPrefersDark;
}

namespace {
struct PaletteColor {
    QPalette::ColorGroup group; // All: active, inactive and disabled alike
    QPalette::ColorRole role;
    QRgb light;
    QRgb dark;
};

// In order: a disabled colour overrides the one set for all groups before it.
constexpr PaletteColor kPaletteColors[] = {
    {QPalette::All, QPalette::Window, 0xf4f4f5, 0x232326},
    {QPalette::All, QPalette::WindowText, 0x1d1d1f, 0xe8e8ea},
    {QPalette::All, QPalette::Base, 0xffffff, 0x1a1a1c},
    {QPalette::All, QPalette::AlternateBase, 0xececee, 0x2b2b2f},
    {QPalette::All, QPalette::Text, 0x1d1d1f, 0xe8e8ea},
    {QPalette::All, QPalette::PlaceholderText, 0x86868b, 0x8a8a90},
    {QPalette::All, QPalette::Button, 0xe8e8ea, 0x333337},
    {QPalette::All, QPalette::ButtonText, 0x1d1d1f, 0xe8e8ea},
    {QPalette::All, QPalette::BrightText, 0xd7261e, 0xff6b60},
    {QPalette::All, QPalette::Highlight, 0x1a73e8, 0x3d8bf2},
    {QPalette::All, QPalette::HighlightedText, 0xffffff, 0xffffff},
    {QPalette::All, QPalette::Link, 0x1a5fc8, 0x6caaff},
    {QPalette::All, QPalette::ToolTipBase, 0xffffe1, 0x333337},
    {QPalette::All, QPalette::ToolTipText, 0x1d1d1f, 0xe8e8ea},
    {QPalette::All, QPalette::Light, 0xffffff, 0x48484d},
    {QPalette::All, QPalette::Midlight, 0xe0e0e3, 0x3a3a3f},
    {QPalette::All, QPalette::Mid, 0xb8b8bd, 0x2a2a2e},
    {QPalette::All, QPalette::Dark, 0x9a9aa0, 0x151517},
    {QPalette::All, QPalette::Shadow, 0x505055, 0x000000},
    {QPalette::Disabled, QPalette::WindowText, 0xa0a0a5, 0x75757a},
    {QPalette::Disabled, QPalette::Text, 0xa0a0a5, 0x75757a},
    {QPalette::Disabled, QPalette::ButtonText, 0xa0a0a5, 0x75757a},
};

QPalette paletteOf(bool dark) {
    QPalette palette;
    for (const PaletteColor& color : kPaletteColors)
        palette.setColor(color.group, color.role, QColor(dark ? color.dark : color.light));
    return palette;
}
} // namespace

QPalette AppearanceController::lightPalette() {
    return paletteOf(false);
}

QPalette AppearanceController::darkPalette() {
    return paletteOf(true);
}

void AppearanceController::setAppearance(AppSettings::Appearance appearance) {
    if (m_applied && appearance == m_appearance)
        return;
    m_appearance = appearance;
    apply();
}

void AppearanceController::apply() {
    const bool dark = isDark(m_appearance, m_desktop->prefersDark());
    if (m_applied && dark == m_dark)
        return;
    m_applied = true;
    m_dark = dark;
    QGuiApplication::setPalette(dark ? darkPalette() : lightPalette());
}
