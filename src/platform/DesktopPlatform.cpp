#include "platform/Platform.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMetaObject>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QtDebug>

#include <unistd.h>

namespace {

class DesktopPermissions final : public Permissions {
public:
    explicit DesktopPermissions(PermissionProbes probes) : m_probes(std::move(probes)) {}
    Status microphoneStatus() override { return Status::authorized; }
    void requestMicrophone(std::function<void(bool)> completion) override {
        if (completion)
            completion(true);
    }
    bool screenCapturePreflight() override { return true; }
    bool requestScreenCapture() override { return true; }
    Report check() override {
        const auto ask = [](const std::function<bool()>& probe) { return probe && probe(); };
        return {ask(m_probes.microphone), ask(m_probes.systemAudio), ask(m_probes.speech)};
    }

private:
    const PermissionProbes m_probes;
};

// logind's inhibitor lock is held as long as the returned descriptor stays open.
class LogindToken final : public SleepInhibitor::Token {
public:
    explicit LogindToken(int fd) : m_fd(fd) {}
    ~LogindToken() override { ::close(m_fd); }

private:
    int m_fd;
};

class ScreenSaverToken final : public SleepInhibitor::Token {
public:
    explicit ScreenSaverToken(uint cookie) : m_cookie(cookie) {}
    ~ScreenSaverToken() override {
        QDBusInterface(QStringLiteral("org.freedesktop.ScreenSaver"),
                       QStringLiteral("/org/freedesktop/ScreenSaver"),
                       QStringLiteral("org.freedesktop.ScreenSaver"))
            .call(QDBus::NoBlock, QStringLiteral("UnInhibit"), m_cookie);
    }

private:
    uint m_cookie;
};

class DesktopSleepInhibitor final : public SleepInhibitor {
public:
    std::unique_ptr<Token> begin(const QString& reason) override {
        if (QDBusConnection::sessionBus().isConnected()) {
            QDBusInterface saver(QStringLiteral("org.freedesktop.ScreenSaver"),
                                 QStringLiteral("/org/freedesktop/ScreenSaver"),
                                 QStringLiteral("org.freedesktop.ScreenSaver"));
            saver.setTimeout(2000);
            const QDBusReply<uint> cookie =
                saver.call(QStringLiteral("Inhibit"), QStringLiteral("Corvinel"), reason);
            if (cookie.isValid())
                return std::make_unique<ScreenSaverToken>(cookie.value());
        }
        if (QDBusConnection::systemBus().isConnected()) {
            QDBusInterface login(
                QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                QStringLiteral("org.freedesktop.login1.Manager"), QDBusConnection::systemBus());
            login.setTimeout(2000);
            const QDBusReply<QDBusUnixFileDescriptor> fd =
                login.call(QStringLiteral("Inhibit"), QStringLiteral("idle:sleep"),
                           QStringLiteral("Corvinel"), reason, QStringLiteral("block"));
            if (fd.isValid() && fd.value().isValid())
                return std::make_unique<LogindToken>(::dup(fd.value().fileDescriptor()));
        }
        qInfo("[Corvinel] could not keep the machine awake: no inhibit service answered");
        return nullptr;
    }
};

class DesktopFileRevealer final : public FileRevealer {
public:
    // Asynchronous: a file manager that takes seconds to start must not freeze the window.
    void reveal(const QStringList& paths) override {
        if (paths.isEmpty())
            return;
        const QUrl folder = QUrl::fromLocalFile(QFileInfo(paths.first()).absolutePath());
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) {
            QDesktopServices::openUrl(folder);
            return;
        }
        QStringList uris;
        for (const QString& path : paths)
            uris << QUrl::fromLocalFile(path).toString();
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        message << uris << QString();
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, 5000));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                         [folder](QDBusPendingCallWatcher* call) {
                             if (call->isError())
                                 QDesktopServices::openUrl(folder);
                             call->deleteLater();
                         });
    }
    // The desktop's opener (xdg-open, or its portal) starts the program without our waiting.
    void open(const QString& path) override {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }
};

} // namespace

std::unique_ptr<Permissions> makeDesktopPermissions(PermissionProbes probes) {
    return std::make_unique<DesktopPermissions>(std::move(probes));
}
QStringList soundSettingsCommand(const QString& currentDesktop,
                                 const std::function<bool(const QString& program)>& installed) {
    const auto has = [&](const QString& program) { return installed && installed(program); };
    // XDG_CURRENT_DESKTOP lists the desktop and what it derives from, most specific first
    // ("ubuntu:GNOME", "Budgie:GNOME"); the first one whose settings program is here wins.
    for (const QString& name : currentDesktop.split(u':', Qt::SkipEmptyParts)) {
        const QString desktop = name.trimmed().toLower();
        if (desktop == u"gnome" || desktop == u"unity" || desktop == u"ubuntu") {
            if (has(QStringLiteral("gnome-control-center")))
                return {QStringLiteral("gnome-control-center"), QStringLiteral("sound")};
        } else if (desktop == u"kde") {
            // Plasma 5.26 and later name the program without the 5; the audio page is the same.
            for (const QString& program :
                 {QStringLiteral("systemsettings"), QStringLiteral("systemsettings5")}) {
                if (has(program))
                    return {program, QStringLiteral("kcm_pulseaudio")};
            }
        }
    }
    if (has(QStringLiteral("pavucontrol")))
        return {QStringLiteral("pavucontrol")};
    return {};
}

bool openSoundSettings() {
    const QStringList command = soundSettingsCommand(
        qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
        [](const QString& program) { return !QStandardPaths::findExecutable(program).isEmpty(); });
    if (command.isEmpty())
        return false;
    return QProcess::startDetached(command.first(), command.mid(1));
}

std::unique_ptr<SleepInhibitor> makeDesktopSleepInhibitor() {
    return std::make_unique<DesktopSleepInhibitor>();
}
std::unique_ptr<FileRevealer> makeDesktopFileRevealer() {
    return std::make_unique<DesktopFileRevealer>();
}
