#pragma once

#include "settings/AppSettings.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

// The window's commands (menu items, shortcuts, and the control bar's theme and text-size
// buttons, which do the same): what each does to the settings, in one place.
class Commands : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(AppSettings* settings READ settings WRITE setSettings NOTIFY settingsChanged)

public:
    static constexpr double minFontSize = 10;
    static constexpr double maxFontSize = 36;
    static constexpr double defaultFontSize = 14;

    explicit Commands(QObject* parent = nullptr);

    AppSettings* settings() const { return m_settings; }
    void setSettings(AppSettings* settings);

    // min(max(size, 10), 36)
    static double clampFontSize(double size);

    Q_INVOKABLE void biggerText();
    Q_INVOKABLE void smallerText();
    // 14 points and the system font.
    Q_INVOKABLE void resetTextSize();
    // Dark becomes light; light and "match system" become dark.
    Q_INVOKABLE void toggleAppearance();
    Q_INVOKABLE void toggleAlwaysOnTop();

signals:
    void settingsChanged();

private:
    QPointer<AppSettings> m_settings;
};
