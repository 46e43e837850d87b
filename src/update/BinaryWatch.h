#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

#include <optional>
#include <sys/types.h>

class QProcess;

// Notices that the program's file on disk was replaced while it runs (apt upgraded it) and
// finds out which version now lies there by asking the new file for `--version`, in the
// background. Each new version is announced once; a file that changed but still reports the
// running (or last announced) version is no news.
class BinaryWatch : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)
public:
    explicit BinaryWatch(QString executablePath = runningExecutable(),
                         QString runningVersion = QString(), QObject* parent = nullptr);

    // "Updated to X — restart when convenient" once a new version was found; empty before.
    QString notice() const { return m_notice; }

    // Looks again now, beside the file watch (which a replacement by rename can outrun).
    Q_INVOKABLE void check();

    // The file this process was started from, read while it still names the running binary:
    // once it is replaced, /proc/self/exe names a deleted file.
    static QString runningExecutable();

signals:
    void replaced(const QString& version);
    void noticeChanged();

private:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        bool operator==(const Identity&) const = default;
    };
    static std::optional<Identity> identify(const QString& path);
    void askVersion();
    void onVersionAnswered(bool ok);
    void keepWatching();

    QString m_path;
    QString m_version;
    QString m_notice;
    std::optional<Identity> m_seen;
    QFileSystemWatcher m_watcher;
    QProcess* m_probe = nullptr; // a child: ending with the watch kills a running one
    bool m_lookAgain = false;    // the file changed while the last one was being asked
};
