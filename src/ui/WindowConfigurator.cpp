#include "ui/WindowConfigurator.h"

#include "base/Assign.h"
#include "ui/AppearanceController.h"
#include "ui/FrameTracker.h"
#include "ui/X11Workspaces.h"

#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QTimer>

WindowConfigurator::WindowConfigurator(QObject* parent)
    : QObject(parent), m_tracksFrame(platformReportsPosition(QGuiApplication::platformName())),
      m_framePath(AppSettings::defaultPath()),
      m_appearanceController(new AppearanceController(this)) {}

WindowConfigurator::~WindowConfigurator() = default;

bool WindowConfigurator::platformReportsPosition(const QString& platformName) {
    return platformName == QLatin1String("xcb");
}

void WindowConfigurator::setWindow(QObject* object) {
    auto* window = qobject_cast<QWindow*>(object);
    if (m_window == window)
        return;
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    if (m_window) {
        m_window->installEventFilter(this);
        if (m_window->handle())
            applyLook();
    }
    emit windowChanged();
    scheduleApply();
}

// Asked again once the manager has taken the window in: a request made while it maps a new
// window can be lost (seen under openbox, one start in five), and a loaded machine can take
// longer than the first try allows, so the window's first exposure counts the time again.
void WindowConfigurator::askAgainLater() {
    for (const int delay : {FrameTracker::settleMs, 5 * FrameTracker::settleMs})
        QTimer::singleShot(delay, this, [this, window = m_window] {
            if (!window || window != m_window || m_appliedOnTop != m_alwaysOnTop)
                return;
            X11Workspaces::keepAbove(m_window, m_alwaysOnTop);
            X11Workspaces::showOnAll(m_window, m_alwaysOnTop);
        });
}

bool WindowConfigurator::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window && event->type() == QEvent::Expose && m_window->isExposed() &&
        m_exposedWindow != m_window && m_appliedTo == m_window) {
        m_exposedWindow = m_window;
        askAgainLater();
    }
    // Sent as the platform window is made, before it is shown.
    if (watched == m_window && event->type() == QEvent::PlatformSurface &&
        static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
            QPlatformSurfaceEvent::SurfaceCreated)
        applyLook();
    return false;
}

void WindowConfigurator::applyLook() {
    m_appearanceController->setAppearance(m_appearance);
    X11Workspaces::fillBackground(m_window, QGuiApplication::palette().color(QPalette::Window));
}

void WindowConfigurator::setAlwaysOnTop(bool on) {
    if (!assignIfChanged(m_alwaysOnTop, on))
        return;
    emit alwaysOnTopChanged();
    scheduleApply();
}

void WindowConfigurator::setAppearance(AppSettings::Appearance appearance) {
    if (!assignIfChanged(m_appearance, appearance))
        return;
    emit appearanceChanged();
    scheduleApply();
}

void WindowConfigurator::setTracksFrame(bool tracks) {
    if (!assignIfChanged(m_tracksFrame, tracks))
        return;
    emit tracksFrameChanged();
    scheduleApply();
}

void WindowConfigurator::setFramePath(const QString& path) {
    if (!assignIfChanged(m_framePath, path))
        return;
    emit framePathChanged();
}

void WindowConfigurator::scheduleApply() {
    if (m_applyPending)
        return;
    m_applyPending = true;
    QTimer::singleShot(0, this, &WindowConfigurator::apply);
}

void WindowConfigurator::apply() {
    m_applyPending = false;
    // Also what the server shows of a resized window before its next frame.
    applyLook();
    if (!m_window)
        return;
    if (m_appliedOnTop != m_alwaysOnTop || m_appliedTo != m_window) {
        m_appliedOnTop = m_alwaysOnTop;
        m_appliedTo = m_window;
        m_window->setFlag(Qt::WindowStaysOnTopHint, m_alwaysOnTop);
        X11Workspaces::showOnAll(m_window, m_alwaysOnTop);
        askAgainLater();
    }
    if (m_tracksFrame && !m_frameTracker) {
        m_frameTracker = new FrameTracker(m_framePath, this);
        m_frameTracker->install(m_window);
    }
}
