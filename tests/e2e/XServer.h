#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <optional>

// An X server in memory (Xvfb) on a display nobody uses, with openbox as its
// window manager when that is installed; both stopped by their process ids when it goes.
class XServer {
public:
    XServer() = default;
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    static bool installed();
    // True once the server answers.
    bool start();
    QString display() const { return m_display; }

    // A program run against this display to its end: its standard output, or nothing when
    // it failed.
    std::optional<QString> run(const QString& program, const QStringList& arguments,
                               int timeoutMs = 10000) const;
    // The first window whose name is `name`, as xdotool prints its id; empty until it maps.
    QString findWindow(const QString& name, int timeoutMs) const;
    // Raises and focuses the window, then types `keys` (xdotool's names) into it.
    bool sendKeys(const QString& window, const QString& keys) const;

private:
    QProcess m_xvfb;
    QProcess m_windowManager;
    QString m_display;
};
