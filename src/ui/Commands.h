#pragma once

#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "ui/CommandMenuModel.h"
#include "update/UpdateController.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

// The window's commands (menu items, shortcuts, and the control bar's theme and text-size
// buttons, which do the same): what each does to the settings, in one place.
class Commands : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(AppSettings* settings READ settings WRITE setSettings NOTIFY settingsChanged)
    Q_PROPERTY(SessionController* session READ session WRITE setSession NOTIFY sessionChanged)
    Q_PROPERTY(UpdateController* updater READ updater WRITE setUpdater NOTIFY updaterChanged)
    Q_PROPERTY(CommandMenuModel* menu READ menu CONSTANT)
    // The key sequences that start or stop a session.
    Q_PROPERTY(QVariantList startStopShortcuts READ startStopShortcuts CONSTANT)
    Q_PROPERTY(QString recordingChooserTitle READ recordingChooserTitle CONSTANT)
    Q_PROPERTY(QStringList recordingFileFilters READ recordingFileFilters CONSTANT)
    Q_PROPERTY(QString reviewChooserTitle READ reviewChooserTitle CONSTANT)
    Q_PROPERTY(QStringList reviewFileFilters READ reviewFileFilters CONSTANT)

public:
    static constexpr double minFontSize = 10;
    static constexpr double maxFontSize = 36;
    static constexpr double defaultFontSize = 14;

    explicit Commands(QObject* parent = nullptr);

    AppSettings* settings() const { return m_settings; }
    void setSettings(AppSettings* settings);
    SessionController* session() const { return m_session; }
    void setSession(SessionController* session);
    UpdateController* updater() const { return m_updater; }
    void setUpdater(UpdateController* updater);
    CommandMenuModel* menu() const { return m_menu; }
    static QVariantList startStopShortcuts();

    // min(max(size, 10), 36)
    static double clampFontSize(double size);
    static QString recordingChooserTitle() { return QStringLiteral("Transcribe Recording"); }
    static QStringList recordingFileFilters() {
        return {QStringLiteral("WAV audio (*.wav *.WAV)")};
    }
    static QString reviewChooserTitle() { return QStringLiteral("Open Session Review"); }
    static QStringList reviewFileFilters() {
        return {QStringLiteral("Session event logs (*.events.jsonl)")};
    }

    // Runs the menu row's command (the model's `command` role).
    Q_INVOKABLE void trigger(const QString& command);

    // Shows the Software Update window and looks for a newer version.
    Q_INVOKABLE void checkForUpdates();
    Q_INVOKABLE void biggerText();
    Q_INVOKABLE void smallerText();
    // 14 points and the system font.
    Q_INVOKABLE void resetTextSize();
    // Dark becomes light; light and "match system" become dark.
    Q_INVOKABLE void toggleAppearance();
    Q_INVOKABLE void toggleAlwaysOnTop();
    Q_INVOKABLE void startOrStop();
    // The first of the chosen files (a path or a file URL) is transcribed.
    Q_INVOKABLE void transcribeChosen(const QStringList& paths);
    // The first of the chosen event logs gets its review page, opened in the browser.
    Q_INVOKABLE void reviewChosen(const QStringList& paths);

signals:
    void settingsChanged();
    void sessionChanged();
    void updaterChanged();
    // "Check for Updates…" ran: the view shows the Software Update window.
    void softwareUpdateRequested();
    // The view answers with a file chooser for WAV files, then transcribeChosen().
    void transcribeRecordingRequested();
    // The view answers with a file chooser for event logs in the sessions folder, then
    // reviewChosen().
    void sessionReviewRequested();

private:
    QPointer<AppSettings> m_settings;
    QPointer<SessionController> m_session;
    QPointer<UpdateController> m_updater;
    CommandMenuModel* m_menu;
};
