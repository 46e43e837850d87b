#pragma once

#include "update/Appcast.h"
#include "update/FeedAddress.h"
#include "update/PackageInstaller.h"

#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

// What one updater works with: the feed, the version this program is, the key packages must be
// signed with and the folder downloads go to.
struct UpdateSettings {
    UpdateAddress feed;
    QString currentVersion;
    QByteArray publicKey; // base64 of the raw Ed25519 public key
    QString downloadFolder;

    // The build's feed (or OV_APPCAST_URL), version and key; downloads in the cache folder.
    static UpdateSettings fromBuild();
};

// The in-app updater, on the main thread. It checks only when asked (there is no automatic
// check), downloads the newest package for this system, refuses it unless its length and
// Ed25519 signature match the feed, and hands it to the system's installer — never while a
// session runs: then it waits for the session to end. "Restart now" is offered only while no
// session runs. Every failure leaves the running program as it was and says what happened.
class UpdateController : public QObject {
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString releaseNotes READ releaseNotes NOTIFY releaseNotesChanged)
    Q_PROPERTY(QUrl releaseNotesLink READ releaseNotesLink NOTIFY releaseNotesChanged)
    Q_PROPERTY(QString availableVersion READ availableVersion NOTIFY availableVersionChanged)
    Q_PROPERTY(QString currentVersion READ currentVersion CONSTANT)
    Q_PROPERTY(bool canInstall READ canInstall NOTIFY canInstallChanged)
    Q_PROPERTY(bool canRestart READ canRestart NOTIFY canRestartChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QDateTime lastCheck READ lastCheck NOTIFY lastCheckChanged)

public:
    enum class State {
        idle,              // nothing checked yet
        checking,          // fetching the feed
        upToDate,          // the feed has nothing newer for this system
        available,         // a newer version can be installed
        downloading,       // fetching the package
        verifying,         // checking the package's signature
        waitingForSession, // verified; installs when the running session ends
        installing,        // the system's installer has the package
        installed,         // installed; the new version runs after a restart
        handedOver,        // the installer could not install it itself (its words say what next)
        failed,            // a check, download, verification or install failed (statusText says)
    };
    Q_ENUM(State)

    // `sessionActive` says whether a session runs now; the owner calls sessionEnded() when one
    // stops and sessionActivityChanged() when one starts.
    UpdateController(UpdateSettings settings, PackageInstaller& installer, Relauncher& relauncher,
                     std::function<bool()> sessionActive, QObject* parent = nullptr);
    ~UpdateController() override;

    State state() const { return m_view.state; }
    QString statusText() const { return m_view.statusText; }
    QString releaseNotes() const { return m_view.releaseNotes; }
    QUrl releaseNotesLink() const { return m_view.releaseNotesLink; }
    QString availableVersion() const { return m_view.availableVersion; }
    QString currentVersion() const { return m_settings.currentVersion; }
    bool canInstall() const { return m_view.state == State::available; }
    bool canRestart() const { return m_view.canRestart; }
    bool busy() const;
    QDateTime lastCheck() const { return m_lastCheck; }

    // What a fetched feed does: picks the newest item for this system and compares it with
    // this program's version. The demo shows a scripted feed through it.
    void takeFeed(const QByteArray& xml);

public slots:
    void checkForUpdates();
    void install();
    void restartNow();
    void sessionEnded();
    void sessionActivityChanged();
    // The package manager replaced this program's file (apt upgraded it, or our own install
    // did) with `version`: it runs after a restart, offered when no session runs.
    void binaryReplaced(const QString& version);

signals:
    void stateChanged();
    void statusTextChanged();
    void releaseNotesChanged();
    void availableVersionChanged();
    void canInstallChanged();
    void canRestartChanged();
    void busyChanged();
    void lastCheckChanged();

private:
    struct View {
        State state = State::idle;
        QString statusText;
        QString releaseNotes;
        QUrl releaseNotesLink;
        QString availableVersion;
        bool canRestart = false;
    };

    void show(View view);
    void showState(State state, const QString& text);
    void fail(const QString& text);
    void feedFinished();
    void downloadFinished();
    void verified(const std::optional<QString>& refusal);
    void handToInstaller();
    void installerFinished(const InstallOutcome& outcome);
    void discardDownload();
    bool sessionRuns() const;
    QString networkFailure(QNetworkReply& reply) const;

    UpdateSettings m_settings;
    PackageInstaller& m_installer;
    Relauncher& m_relauncher;
    std::function<bool()> m_sessionActive;
    std::unique_ptr<QNetworkAccessManager> m_network;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<QFile> m_download;
    std::optional<AppcastItem> m_offer;
    QString m_packagePath;
    QDateTime m_lastCheck;
    View m_view;
    QString m_writeError; // why the download could not be saved, when it could not
};
