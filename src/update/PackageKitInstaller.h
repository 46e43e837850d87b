#pragma once

#include "base/Clock.h"
#include "update/PackageInstaller.h"

#include <QDBusConnection>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QDBusPendingCall;
class QDBusPendingCallWatcher;

// Installs a package file through PackageKit on the system bus: the desktop's polkit agent asks
// for the administrator's password, and the transaction's ErrorCode and Finished signals say
// what became of it. Where no PackageKit runs, the file is handed to the software centre.
class PackageKitInstaller : public PackageInstaller {
    Q_OBJECT
public:
    // Opens a file in whatever the desktop uses for packages; false when nothing took it.
    using Opener = std::function<bool(const QString& path)>;

    explicit PackageKitInstaller(QDBusConnection bus = QDBusConnection::systemBus(),
                                 Opener opener = openWithDesktop, QObject* parent = nullptr);

    void install(const QString& packagePath) override;

    // How long a whole install may take, password prompt included, before it counts as failed.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

    static bool openWithDesktop(const QString& path);

private slots:
    void onErrorCode(uint code, const QString& details);
    void onFinished(uint exit, uint runtime);

private:
    // Hands the answer to `handle` while this install is still the one running.
    void whenAnswered(const QDBusPendingCall& pending,
                      void (PackageKitInstaller::*handle)(QDBusPendingCallWatcher*));
    void onTransactionCreated(QDBusPendingCallWatcher* call);
    void onInstallFilesAnswered(QDBusPendingCallWatcher* call);
    void handOver();
    void finish(InstallOutcome::Kind kind, const QString& text);
    void stopListening();

    QDBusConnection m_bus;
    Opener m_opener;
    std::chrono::milliseconds m_timeout;
    std::unique_ptr<Clock::Timer> m_deadline; // while an install runs
    QString m_path;
    QString m_owner;       // PackageKit's unique bus name, so only its signals are taken
    QString m_transaction; // object path of the running transaction
    std::optional<uint> m_errorCode;
    QString m_errorDetails;
    bool m_busy = false;
    quint64 m_attempt = 0; // replies to an install that already ended are ignored
};
