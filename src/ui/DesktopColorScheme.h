#pragma once

#include <QDBusVariant>
#include <QObject>
#include <QVariant>
#include <optional>

// Follows the desktop's light/dark preference through the settings portal
// (org.freedesktop.appearance color-scheme): read once, asynchronously, then every change.
class DesktopColorScheme : public QObject {
    Q_OBJECT

public:
    explicit DesktopColorScheme(QObject* parent = nullptr);

    // The portal's value: 1 prefers dark; 0 (no preference) and 2 (prefers light) are light.
    // Nested variants (as Read returns them) are unwrapped; anything else is unknown.
    static std::optional<bool> prefersDark(const QVariant& value);

    // False until the portal answered with a value.
    bool prefersDark() const { return m_dark; }

signals:
    void prefersDarkChanged();

private slots:
    void onSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void take(const QVariant& value);

    bool m_dark = false;
};
