#include "update/PackageKitInstaller.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QUrl>

namespace {
const QString kService = QStringLiteral("org.freedesktop.PackageKit");
const QString kPath = QStringLiteral("/org/freedesktop/PackageKit");
const QString kInterface = QStringLiteral("org.freedesktop.PackageKit");
const QString kTransactionInterface = QStringLiteral("org.freedesktop.PackageKit.Transaction");

// PackageKit's exit and error enumerations (pk-enum.h), by value on the bus.
constexpr uint kExitSuccess = 1;
constexpr uint kExitCancelled = 3;
constexpr uint kErrorTransactionCancelled = 17;
constexpr uint kErrorNotAuthorized = 48;

// No transaction flags. The "only trusted" flag would make PackageKit refuse the file: a .deb
// carries no signature apt can check, so a local one is never trusted. Without it PackageKit
// asks polkit for the untrusted-install action, which is the administrator's password.
constexpr qulonglong kTransactionFlags = 0;

// Long enough for someone to find their password and for apt to fetch missing dependencies.
constexpr std::chrono::minutes kDefaultTimeout{20};

bool serviceMissing(const QDBusError& error) {
    return error.type() == QDBusError::ServiceUnknown || error.type() == QDBusError::Disconnected;
}

QString savedAt(const QString& path) {
    return QStringLiteral("The package is saved at %1.").arg(path);
}
} // namespace

PackageKitInstaller::PackageKitInstaller(QDBusConnection bus, Opener opener, QObject* parent)
    : PackageInstaller(parent), m_bus(std::move(bus)), m_opener(std::move(opener)),
      m_timeout(kDefaultTimeout) {}

bool PackageKitInstaller::openWithDesktop(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void PackageKitInstaller::install(const QString& packagePath) {
    if (m_busy) {
        // The contract is one install at a time; a second one is answered, later, on its own.
        QMetaObject::invokeMethod(
            this,
            [this] {
                emit finished({InstallOutcome::Kind::failed,
                               QStringLiteral("Another installation is still running.")});
            },
            Qt::QueuedConnection);
        return;
    }
    m_busy = true;
    ++m_attempt;
    m_path = packagePath;
    m_owner.clear();
    m_transaction.clear();
    m_errorCode.reset();
    m_errorDetails.clear();
    m_deadline =
        systemClock().schedule(std::chrono::duration<double>(m_timeout).count(), false, [this] {
            finish(InstallOutcome::Kind::failed,
                   QStringLiteral("The system's installer did not finish in time. ") +
                       savedAt(m_path));
        });

    const QDBusMessage create = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                               QStringLiteral("CreateTransaction"));
    whenAnswered(m_bus.asyncCall(create), &PackageKitInstaller::onTransactionCreated);
}

void PackageKitInstaller::whenAnswered(
    const QDBusPendingCall& pending,
    void (PackageKitInstaller::*handle)(QDBusPendingCallWatcher*)) {
    auto* watcher = new QDBusPendingCallWatcher(pending, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, handle, attempt = m_attempt](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                // An answer for an install that has ended (timed out, or replaced) is old news.
                if (attempt == m_attempt && m_busy)
                    (this->*handle)(call);
            });
}

void PackageKitInstaller::onTransactionCreated(QDBusPendingCallWatcher* call) {
    const QDBusPendingReply<QDBusObjectPath> reply = *call;
    if (reply.isError()) {
        if (serviceMissing(reply.error()))
            handOver();
        else
            finish(InstallOutcome::Kind::failed,
                   QStringLiteral("The system's installer could not start: %1 ")
                           .arg(reply.error().message()) +
                       savedAt(m_path));
        return;
    }
    // Signals are matched on the unique name that answered: a well-known name would make Qt
    // ask the bus for its owner, a call that blocks this thread.
    m_owner = reply.reply().service();
    m_transaction = reply.value().path();
    m_bus.connect(m_owner, m_transaction, kTransactionInterface, QStringLiteral("ErrorCode"), this,
                  SLOT(onErrorCode(uint, QString)));
    m_bus.connect(m_owner, m_transaction, kTransactionInterface, QStringLiteral("Finished"), this,
                  SLOT(onFinished(uint, uint)));

    // Lets PackageKit show the password prompt instead of refusing outright. Its answer does
    // not matter: an older service that lacks the hint still installs.
    QDBusMessage hints = QDBusMessage::createMethodCall(
        m_owner, m_transaction, kTransactionInterface, QStringLiteral("SetHints"));
    hints << QStringList{QStringLiteral("interactive=true")};
    m_bus.send(hints);

    QDBusMessage installFiles = QDBusMessage::createMethodCall(
        m_owner, m_transaction, kTransactionInterface, QStringLiteral("InstallFiles"));
    installFiles << kTransactionFlags << QStringList{m_path};
    whenAnswered(m_bus.asyncCall(installFiles), &PackageKitInstaller::onInstallFilesAnswered);
}

void PackageKitInstaller::onInstallFilesAnswered(QDBusPendingCallWatcher* call) {
    // A good answer only means the transaction was queued; Finished says how it ended.
    if (call->isError())
        finish(InstallOutcome::Kind::failed,
               QStringLiteral("The system's installer refused the package: %1 ")
                       .arg(call->error().message()) +
                   savedAt(m_path));
}

void PackageKitInstaller::onErrorCode(uint code, const QString& details) {
    if (!m_busy)
        return;
    m_errorCode = code;
    m_errorDetails = details;
}

void PackageKitInstaller::onFinished(uint exit, uint /*runtime*/) {
    if (!m_busy)
        return;
    if (exit == kExitSuccess) {
        finish(InstallOutcome::Kind::installed,
               QStringLiteral("The update is installed. It takes effect when Corvinel restarts."));
        return;
    }
    if (exit == kExitCancelled || m_errorCode == kErrorNotAuthorized ||
        m_errorCode == kErrorTransactionCancelled) {
        finish(InstallOutcome::Kind::declined, QStringLiteral("The installation was cancelled."));
        return;
    }
    const QString details = m_errorDetails.trimmed().isEmpty()
                                ? QStringLiteral("the system's installer gave no reason")
                                : m_errorDetails.trimmed();
    finish(InstallOutcome::Kind::failed,
           QStringLiteral("The installation failed: %1. ").arg(details) + savedAt(m_path));
}

void PackageKitInstaller::handOver() {
    if (m_opener && m_opener(m_path))
        finish(InstallOutcome::Kind::handedOver,
               QStringLiteral("Opened in your software centre to finish installing."));
    else
        finish(InstallOutcome::Kind::savedOnly,
               QStringLiteral("Nothing on this computer could open the package. It is saved at "
                              "%1: install it from there with your software centre or apt.")
                   .arg(m_path));
}

void PackageKitInstaller::finish(InstallOutcome::Kind kind, const QString& text) {
    if (!m_busy)
        return;
    m_busy = false;
    ++m_attempt;
    m_deadline.reset();
    stopListening();
    emit finished({kind, text});
}

void PackageKitInstaller::stopListening() {
    if (m_transaction.isEmpty())
        return;
    m_bus.disconnect(m_owner, m_transaction, kTransactionInterface, QStringLiteral("ErrorCode"),
                     this, SLOT(onErrorCode(uint, QString)));
    m_bus.disconnect(m_owner, m_transaction, kTransactionInterface, QStringLiteral("Finished"),
                     this, SLOT(onFinished(uint, uint)));
    m_transaction.clear();
}
