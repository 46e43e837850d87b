#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class AppSettings;
class QQuickWindow;
class SessionController;
class UpdateController;

// Screenshots of the demo at the script's named moments: the window grabs itself into
// `folder`/<moment>.png. At the end of the script it stops the session, takes the banner the
// stop leaves, then the settings sheet, each step of the first-launch walkthrough and the Software
// Update window (a newer version offered, then up to date), keeps a copy of the session's review
// page as `folder`/review.html, and quits.
// Moments that set a scene instead of showing one ("scroll-up") act on
// the window the way a user would.
class DemoShots : public QObject {
    Q_OBJECT
public:
    DemoShots(QQuickWindow& window, SessionController& controller, AppSettings& settings,
              UpdateController& updater, QString folder, QObject* parent = nullptr);

    void moment(const QString& name);

    // The folder from CORVINEL_DEMO_SHOTS; empty when no screenshots are wanted.
    static QString folderFromEnvironment();

private:
    void grab(const QString& name);
    void grab(QQuickWindow* window, const QString& name);
    void scrollUp();
    bool press(const QString& accessibleName);
    // The dialog window the main one shows, if any.
    QQuickWindow* dialog() const;
    void showDialogs();
    void showWalkthroughStep(int step);
    void showSoftwareUpdate();

    QPointer<QQuickWindow> m_window;
    SessionController& m_controller;
    AppSettings& m_settings;
    UpdateController& m_updater;
    QString m_folder;
    QString m_reviewPage; // the stopped session's
};
