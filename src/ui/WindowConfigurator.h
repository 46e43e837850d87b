#pragma once

#include "settings/AppSettings.h"

#include <QObject>
#include <QPointer>
#include <QWindow>
#include <QtQml/qqmlregistration.h>
#include <optional>

class AppearanceController;
class FrameTracker;

// Keeps the window in line with the settings: always on top (and on every workspace), the
// appearance, and the frame restored and remembered. Changes are applied on the next turn of
// the event loop, so a burst of changes applies once.
class WindowConfigurator : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // A QObject for QML's sake (its type checker does not know QWindow); must be a window.
    Q_PROPERTY(QObject* window READ window WRITE setWindow NOTIFY windowChanged)
    Q_PROPERTY(bool alwaysOnTop READ alwaysOnTop WRITE setAlwaysOnTop NOTIFY alwaysOnTopChanged)
    Q_PROPERTY(AppSettings::Appearance appearance READ appearance WRITE setAppearance NOTIFY
                   appearanceChanged)
    // Only a window whose position the platform reports can be remembered: on xcb, not on a
    // native Wayland surface (which reads as 0,0). Settable for the offscreen tests.
    Q_PROPERTY(bool tracksFrame READ tracksFrame WRITE setTracksFrame NOTIFY tracksFrameChanged)
    // The settings file the frame is kept in (the one AppSettings uses by default).
    Q_PROPERTY(QString framePath READ framePath WRITE setFramePath NOTIFY framePathChanged)

public:
    explicit WindowConfigurator(QObject* parent = nullptr);
    ~WindowConfigurator() override;

    static bool platformReportsPosition(const QString& platformName);

    QObject* window() const { return m_window; }
    void setWindow(QObject* window);
    bool alwaysOnTop() const { return m_alwaysOnTop; }
    void setAlwaysOnTop(bool on);
    AppSettings::Appearance appearance() const { return m_appearance; }
    void setAppearance(AppSettings::Appearance appearance);
    bool tracksFrame() const { return m_tracksFrame; }
    void setTracksFrame(bool tracks);
    QString framePath() const { return m_framePath; }
    void setFramePath(const QString& path);

    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void windowChanged();
    void alwaysOnTopChanged();
    void appearanceChanged();
    void tracksFrameChanged();
    void framePathChanged();

private:
    void scheduleApply();
    void apply();
    // The appearance, and the server's fill in its background colour. Also once the window
    // exists on the platform and before it maps, so no frame of it shows in other colours.
    void applyLook();
    void askAgainLater();

    QPointer<QWindow> m_window;
    bool m_alwaysOnTop = false;
    AppSettings::Appearance m_appearance = AppSettings::Appearance::system;
    bool m_tracksFrame;
    QString m_framePath;
    bool m_applyPending = false;
    // What the window was last given, so an appearance change sends nothing to the server.
    std::optional<bool> m_appliedOnTop;
    QPointer<QWindow> m_appliedTo;
    QPointer<QWindow> m_exposedWindow; // the last window whose first exposure was seen
    AppearanceController* m_appearanceController;
    FrameTracker* m_frameTracker = nullptr;
};
