#include "XServer.h"

#include "support/SoundPeers.h"

#include <QStandardPaths>

namespace {
void stopProcess(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}
} // namespace

XServer::~XServer() {
    stopProcess(m_windowManager);
    stopProcess(m_xvfb);
}

bool XServer::installed() {
    return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty();
}

bool XServer::start() {
    // Xvfb picks a free display itself and writes its number to the descriptor given: two
    // tests starting at once never share a server.
    m_xvfb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_xvfb.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("1280x900x24"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp")});
    if (!m_xvfb.waitForStarted(5000))
        return false;
    QByteArray number;
    if (!waitUntil(
            [&] {
                number += m_xvfb.readAllStandardOutput();
                return number.contains('\n') || m_xvfb.state() == QProcess::NotRunning;
            },
            10000) ||
        number.trimmed().isEmpty())
        return false;
    m_display = u':' + QString::fromLatin1(number.trimmed());
    if (!waitUntil(
            [this] {
                return run(QStringLiteral("xwininfo"), {QStringLiteral("-root")}).has_value();
            },
            10000))
        return false;
    if (!QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), m_display);
        m_windowManager.setProcessEnvironment(environment);
        m_windowManager.start(QStringLiteral("openbox"), {});
        m_windowManager.waitForStarted(5000);
    }
    return true;
}

std::optional<QString> XServer::run(const QString& program, const QStringList& arguments,
                                    int timeoutMs) const {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString XServer::findWindow(const QString& name, int timeoutMs) const {
    QString found;
    waitUntil(
        [&] {
            const auto ids = run(QStringLiteral("xdotool"),
                                 {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                  QStringLiteral("--name"), u'^' + name + u'$'});
            found = ids ? ids->section(u'\n', 0, 0).trimmed() : QString();
            return !found.isEmpty();
        },
        timeoutMs);
    return found;
}

bool XServer::sendKeys(const QString& window, const QString& keys) const {
    // Keys go to the focused window, as a user's do; the window manager gives it the focus.
    return run(QStringLiteral("xdotool"),
               {QStringLiteral("windowactivate"), QStringLiteral("--sync"), window}) &&
           run(QStringLiteral("xdotool"),
               {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), keys})
               .has_value();
}
