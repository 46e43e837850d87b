#include "update/UpdateController.h"

#include "base/Folders.h"
#include "update/PackageSignature.h"
#include "update/Version.h"

#include <QDir>
#include <QFileInfo>
#include <QFuture>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPromise>
#include <QStandardPaths>
#include <QThreadPool>

namespace {
// No answer for this long (between any two pieces of data) ends the fetch.
constexpr int kFeedTimeoutMs = 30'000;
constexpr int kDownloadTimeoutMs = 60'000;
const QString kThisSystem = QStringLiteral("linux");

QString packageFileName(const QUrl& url) {
    const QString name = QFileInfo(url.path()).fileName();
    return name.isEmpty() ? QStringLiteral("corvinel-update.deb") : name;
}

// Reads the whole file and checks it off the main thread: packages run to tens of megabytes.
QFuture<std::optional<QString>> checkInBackground(const QString& path, const QByteArray& signature,
                                                  const QByteArray& key) {
    auto promise = std::make_shared<QPromise<std::optional<QString>>>();
    QFuture<std::optional<QString>> future = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, path, signature, key] {
        QFile file(path);
        std::optional<QString> refusal;
        if (!file.open(QIODevice::ReadOnly))
            refusal = QStringLiteral("The downloaded update could not be read back: %1.")
                          .arg(file.errorString());
        else
            refusal = checkPackageSignature(file.readAll(), signature, key);
        promise->addResult(refusal);
        promise->finish();
    });
    return future;
}
} // namespace

UpdateSettings UpdateSettings::fromBuild() {
    return {UpdateBuild::feed(), UpdateBuild::version(), UpdateBuild::publicKey(),
            QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
                QStringLiteral("/updates")};
}

UpdateController::UpdateController(UpdateSettings settings, PackageInstaller& installer,
                                   Relauncher& relauncher, std::function<bool()> sessionActive,
                                   QObject* parent)
    : QObject(parent), m_settings(std::move(settings)), m_installer(installer),
      m_relauncher(relauncher), m_sessionActive(std::move(sessionActive)),
      m_network(std::make_unique<QNetworkAccessManager>()) {
    connect(&m_installer, &PackageInstaller::finished, this, &UpdateController::installerFinished);
}

UpdateController::~UpdateController() {
    // Aborting finishes the reply at once: nothing of it may reach a controller being destroyed.
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    discardDownload();
}

bool UpdateController::busy() const {
    switch (m_view.state) {
    case State::checking:
    case State::downloading:
    case State::verifying:
    case State::installing:
        return true;
    default:
        return false;
    }
}

bool UpdateController::sessionRuns() const {
    return m_sessionActive && m_sessionActive();
}

void UpdateController::show(View view) {
    const bool wasBusy = busy();
    const bool couldInstall = canInstall();
    const View before = std::exchange(m_view, std::move(view));
    if (before.state != m_view.state)
        emit stateChanged();
    if (before.statusText != m_view.statusText)
        emit statusTextChanged();
    if (before.releaseNotes != m_view.releaseNotes ||
        before.releaseNotesLink != m_view.releaseNotesLink)
        emit releaseNotesChanged();
    if (before.availableVersion != m_view.availableVersion)
        emit availableVersionChanged();
    if (couldInstall != canInstall())
        emit canInstallChanged();
    if (before.canRestart != m_view.canRestart)
        emit canRestartChanged();
    if (wasBusy != busy())
        emit busyChanged();
}

void UpdateController::showState(State state, const QString& text) {
    View view = m_view;
    view.state = state;
    view.statusText = text;
    view.canRestart = state == State::installed && !sessionRuns();
    show(std::move(view));
}

void UpdateController::fail(const QString& text) {
    showState(State::failed, text);
}

// ---- Check ----

void UpdateController::checkForUpdates() {
    if (busy() || m_view.state == State::waitingForSession)
        return;
    if (const QDateTime now = QDateTime::currentDateTime(); now != m_lastCheck) {
        m_lastCheck = now;
        emit lastCheckChanged();
    }
    if (m_settings.feed.error) {
        fail(*m_settings.feed.error);
        return;
    }
    m_offer.reset();
    show({State::checking, QStringLiteral("Checking for updates…"), {}, {}, {}, false});
    QNetworkRequest request(m_settings.feed.url);
    request.setTransferTimeout(kFeedTimeoutMs);
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::finished, this, &UpdateController::feedFinished);
}

QString UpdateController::networkFailure(QNetworkReply& reply) const {
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400)
        return QStringLiteral("the server answered %1 %2")
            .arg(status)
            .arg(reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
            .trimmed();
    if (reply.error() == QNetworkReply::OperationCanceledError ||
        reply.error() == QNetworkReply::TimeoutError)
        return QStringLiteral("the server did not answer in time");
    return reply.errorString();
}

void UpdateController::feedFinished() {
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    reply->deleteLater();
    m_reply = nullptr;
    if (reply->error() != QNetworkReply::NoError) {
        fail(QStringLiteral("Could not check for updates: %1.").arg(networkFailure(*reply)));
        return;
    }
    takeFeed(reply->readAll());
}

void UpdateController::takeFeed(const QByteArray& xml) {
    const Appcast feed = Appcast::parse(xml);
    if (feed.error) {
        fail(*feed.error);
        return;
    }
    m_offer = feed.newestFor(kThisSystem);
    if (!m_offer || compareVersions(m_offer->version, m_settings.currentVersion) <= 0) {
        m_offer.reset();
        show({State::upToDate,
              QStringLiteral("You're up to date. Corvinel %1 is the newest version.")
                  .arg(m_settings.currentVersion),
              {},
              {},
              {},
              false});
        return;
    }
    show({State::available,
          QStringLiteral("Corvinel %1 is available. You have %2.")
              .arg(m_offer->displayVersion, m_settings.currentVersion),
          m_offer->releaseNotes, m_offer->releaseNotesLink, m_offer->displayVersion, false});
}

// ---- Download and verification ----

void UpdateController::install() {
    if (!canInstall() || !m_offer)
        return;
    const UpdateAddress address =
        UpdateAddress::check(m_offer->packageUrl.toString(), QStringLiteral("download"));
    if (address.error) {
        fail(*address.error);
        return;
    }
    // Refused before a byte is fetched: nothing unsigned is ever kept.
    if (m_offer->edSignature.trimmed().isEmpty()) {
        fail(QStringLiteral("Corvinel %1 was not installed: the update is not signed, so there "
                            "is no telling who made it.")
                 .arg(m_offer->displayVersion));
        return;
    }
    if (const QString why = makeFolder(m_settings.downloadFolder); !why.isEmpty()) {
        fail(QStringLiteral("The update could not be downloaded: the folder %1 cannot be made "
                            "(%2).")
                 .arg(QDir::toNativeSeparators(m_settings.downloadFolder), why));
        return;
    }
    m_packagePath = m_settings.downloadFolder + u'/' + packageFileName(address.url);
    m_writeError.clear();
    m_download = std::make_unique<QFile>(m_packagePath + QStringLiteral(".part"));
    if (!m_download->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        const QString why = m_download->errorString();
        m_download.reset();
        fail(QStringLiteral("The update could not be saved in %1: %2.")
                 .arg(QDir::toNativeSeparators(m_settings.downloadFolder), why));
        return;
    }
    showState(State::downloading,
              QStringLiteral("Downloading Corvinel %1…").arg(m_offer->displayVersion));
    QNetworkRequest request(address.url);
    request.setTransferTimeout(kDownloadTimeoutMs);
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::readyRead, this, [this] {
        if (m_reply && m_download && m_download->write(m_reply->readAll()) < 0) {
            m_writeError = m_download->errorString();
            m_reply->abort();
        }
    });
    connect(m_reply, &QNetworkReply::finished, this, &UpdateController::downloadFinished);
}

void UpdateController::discardDownload() {
    if (m_download) {
        m_download->close();
        m_download->remove();
        m_download.reset();
    }
}

void UpdateController::downloadFinished() {
    QNetworkReply* reply = m_reply;
    if (!reply || !m_download || !m_offer)
        return;
    reply->deleteLater();
    m_reply = nullptr;
    if (m_writeError.isEmpty() && (m_download->write(reply->readAll()) < 0 || !m_download->flush()))
        m_writeError = m_download->errorString();
    if (reply->error() != QNetworkReply::NoError || !m_writeError.isEmpty()) {
        const QString why = m_writeError.isEmpty() ? networkFailure(*reply) : m_writeError;
        discardDownload();
        fail(QStringLiteral("The update could not be downloaded: %1.").arg(why));
        return;
    }
    const qint64 size = m_download->size();
    m_download->close();
    if (m_offer->packageLength >= 0 && size != m_offer->packageLength) {
        discardDownload();
        fail(QStringLiteral("The download was incomplete or altered (%1 of %2 bytes), so it was "
                            "deleted and nothing was installed.")
                 .arg(size)
                 .arg(m_offer->packageLength));
        return;
    }
    showState(State::verifying, QStringLiteral("Checking the update's signature…"));
    checkInBackground(m_download->fileName(), m_offer->edSignature, m_settings.publicKey)
        .then(this, [this](const std::optional<QString>& refusal) { verified(refusal); });
}

void UpdateController::verified(const std::optional<QString>& refusal) {
    if (!m_download)
        return;
    if (refusal) {
        discardDownload();
        fail(*refusal + QStringLiteral(" The download was deleted and nothing was installed."));
        return;
    }
    QFile::remove(m_packagePath);
    if (!m_download->rename(m_packagePath)) {
        const QString why = m_download->errorString();
        discardDownload();
        fail(QStringLiteral("The update could not be kept: %1.").arg(why));
        return;
    }
    m_download.reset();
    if (sessionRuns()) {
        showState(State::waitingForSession,
                  QStringLiteral("Update ready — installs when this session ends"));
        return;
    }
    handToInstaller();
}

// ---- Install and restart ----

void UpdateController::handToInstaller() {
    showState(State::installing,
              QStringLiteral("Installing Corvinel %1…").arg(m_view.availableVersion));
    m_installer.install(m_packagePath);
}

void UpdateController::installerFinished(const InstallOutcome& outcome) {
    if (m_view.state != State::installing)
        return;
    using Kind = InstallOutcome::Kind;
    switch (outcome.kind) {
    case Kind::installed:
        showState(State::installed,
                  outcome.text.isEmpty()
                      ? QStringLiteral("Corvinel %1 is installed. Restart to use it.")
                            .arg(m_view.availableVersion)
                      : outcome.text);
        return;
    case Kind::handedOver:
    case Kind::savedOnly:
        showState(State::handedOver, outcome.text);
        return;
    case Kind::declined:
    case Kind::failed:
        fail(outcome.text.isEmpty() ? QStringLiteral("The update was not installed.")
                                    : outcome.text);
        return;
    }
}

void UpdateController::sessionActivityChanged() {
    View view = m_view;
    view.canRestart = m_view.state == State::installed && !sessionRuns();
    show(std::move(view));
}

void UpdateController::binaryReplaced(const QString& version) {
    // A download or install in flight ends with its own words; the file on disk is news after.
    if (busy())
        return;
    View view = m_view;
    view.availableVersion = version;
    view.releaseNotes.clear();
    view.releaseNotesLink.clear();
    show(std::move(view));
    showState(State::installed,
              QStringLiteral("Updated to %1 — restart when convenient").arg(version));
}

void UpdateController::sessionEnded() {
    sessionActivityChanged();
    if (m_view.state == State::waitingForSession && !sessionRuns())
        handToInstaller();
}

void UpdateController::restartNow() {
    // Checked again here: a restart ends the program, and with it a running session.
    if (!m_view.canRestart || sessionRuns())
        return;
    m_relauncher.relaunch();
}
