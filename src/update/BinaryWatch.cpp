#include "update/BinaryWatch.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <chrono>
#include <sys/stat.h>

namespace {
// A binary that hangs on --version (a broken half-upgrade) must not keep the watch busy.
constexpr std::chrono::seconds kProbeTimeout{10};

// `corvinel --version` prints "corvinel 1.2.3": the version is the first line's last word.
QString versionIn(const QByteArray& output) {
    const QString first = QString::fromUtf8(output).section(u'\n', 0, 0).trimmed();
    return first.section(u' ', -1);
}
} // namespace

BinaryWatch::BinaryWatch(QString executablePath, QString runningVersion, QObject* parent)
    : QObject(parent), m_path(std::move(executablePath)),
      m_version(runningVersion.isEmpty() ? QCoreApplication::applicationVersion()
                                         : std::move(runningVersion)),
      m_seen(identify(m_path)) {
    // dpkg replaces a file by renaming a new one over it, which ends a watch on the old file;
    // the folder's watch sees the rename.
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &BinaryWatch::check);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &BinaryWatch::check);
    if (!m_path.isEmpty())
        m_watcher.addPath(QFileInfo(m_path).absolutePath());
    keepWatching();
}

QString BinaryWatch::runningExecutable() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

std::optional<BinaryWatch::Identity> BinaryWatch::identify(const QString& path) {
    struct stat status {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return Identity{status.st_dev, status.st_ino, qint64(status.st_size),
                    qint64(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

void BinaryWatch::check() {
    keepWatching();
    const std::optional<Identity> now = identify(m_path);
    // Missing: between dpkg's unlink and rename, or a removal; the next event looks again.
    if (!now || now == m_seen)
        return;
    m_seen = now;
    askVersion();
}

void BinaryWatch::askVersion() {
    if (m_probe) {
        m_lookAgain = true;
        return;
    }
    m_probe = new QProcess(this);
    m_probe->setProcessChannelMode(QProcess::SeparateChannels);
    m_probe->setStandardInputFile(QProcess::nullDevice());
    connect(m_probe, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        onVersionAnswered(status == QProcess::NormalExit && code == 0);
    });
    connect(m_probe, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onVersionAnswered(false);
    });
    QTimer::singleShot(kProbeTimeout, m_probe, [probe = m_probe] { probe->kill(); });
    m_probe->start(m_path, {QStringLiteral("--version")});
}

void BinaryWatch::onVersionAnswered(bool ok) {
    const QString version = ok ? versionIn(m_probe->readAllStandardOutput()) : QString();
    m_probe->deleteLater();
    m_probe = nullptr;
    if (!version.isEmpty() && version != m_version) {
        m_version = version;
        m_notice = QStringLiteral("Updated to %1 — restart when convenient").arg(version);
        emit noticeChanged();
        emit replaced(version);
    }
    // The file changed again while this answer came: ask the file that lies there now.
    if (m_lookAgain) {
        m_lookAgain = false;
        askVersion();
    }
}

void BinaryWatch::keepWatching() {
    if (!m_path.isEmpty() && !m_watcher.files().contains(m_path) && QFileInfo::exists(m_path))
        m_watcher.addPath(m_path);
}
