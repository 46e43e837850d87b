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

QPalette AppearanceController::lightPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0xf4, 0xf4, 0xf5));
    p.setColor(QPalette::WindowText, QColor(0x1d, 0x1d, 0x1f));
    p.setColor(QPalette::Base, QColor(0xff, 0xff, 0xff));
    p.setColor(QPalette::AlternateBase, QColor(0xec, 0xec, 0xee));
    p.setColor(QPalette::Text, QColor(0x1d, 0x1d, 0x1f));
    p.setColor(QPalette::PlaceholderText, QColor(0x86, 0x86, 0x8b));
    p.setColor(QPalette::Button, QColor(0xe8, 0xe8, 0xea));
    p.setColor(QPalette::ButtonText, QColor(0x1d, 0x1d, 0x1f));
    p.setColor(QPalette::BrightText, QColor(0xd7, 0x26, 0x1e));
    p.setColor(QPalette::Highlight, QColor(0x1a, 0x73, 0xe8));
    p.setColor(QPalette::HighlightedText, QColor(0xff, 0xff, 0xff));
    p.setColor(QPalette::Link, QColor(0x1a, 0x5f, 0xc8));
    p.setColor(QPalette::ToolTipBase, QColor(0xff, 0xff, 0xe1));
    p.setColor(QPalette::ToolTipText, QColor(0x1d, 0x1d, 0x1f));
    p.setColor(QPalette::Light, QColor(0xff, 0xff, 0xff));
    p.setColor(QPalette::Midlight, QColor(0xe0, 0xe0, 0xe3));
    p.setColor(QPalette::Mid, QColor(0xb8, 0xb8, 0xbd));
    p.setColor(QPalette::Dark, QColor(0x9a, 0x9a, 0xa0));
    p.setColor(QPalette::Shadow, QColor(0x50, 0x50, 0x55));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xa0, 0xa0, 0xa5));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0xa0, 0xa0, 0xa5));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0xa0, 0xa0, 0xa5));
    return p;
}

QPalette AppearanceController::darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x23, 0x23, 0x26));
    p.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xea));
    p.setColor(QPalette::Base, QColor(0x1a, 0x1a, 0x1c));
    p.setColor(QPalette::AlternateBase, QColor(0x2b, 0x2b, 0x2f));
    p.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xea));
    p.setColor(QPalette::PlaceholderText, QColor(0x8a, 0x8a, 0x90));
    p.setColor(QPalette::Button, QColor(0x33, 0x33, 0x37));
    p.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xea));
    p.setColor(QPalette::BrightText, QColor(0xff, 0x6b, 0x60));
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xf2));
    p.setColor(QPalette::HighlightedText, QColor(0xff, 0xff, 0xff));
    p.setColor(QPalette::Link, QColor(0x6c, 0xaa, 0xff));
    p.setColor(QPalette::ToolTipBase, QColor(0x33, 0x33, 0x37));
    p.setColor(QPalette::ToolTipText, QColor(0xe8, 0xe8, 0xea));
    p.setColor(QPalette::Light, QColor(0x48, 0x48, 0x4d));
    p.setColor(QPalette::Midlight, QColor(0x3a, 0x3a, 0x3f));
    p.setColor(QPalette::Mid, QColor(0x2a, 0x2a, 0x2e));
    p.setColor(QPalette::Dark, QColor(0x15, 0x15, 0x17));
    p.setColor(QPalette::Shadow, QColor(0x00, 0x00, 0x00));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x75, 0x75, 0x7a));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x75, 0x75, 0x7a));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x75, 0x75, 0x7a));
    return p;
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
