#pragma once

#include <QObject>
#include <QString>

// What became of a downloaded package handed to the system's installer.
struct InstallOutcome {
    enum class Kind {
        installed,  // the package manager installed it; the new version runs after a restart
        declined,   // the user cancelled the password prompt or the installer refused
        failed,     // the installer ran and reported an error
        handedOver, // no installer service: the file was opened in the software centre
        savedOnly,  // nothing could open it: the user installs it from where it was saved
    };
    Kind kind = Kind::failed;
    QString text; // user-facing words: what happened and, where useful, what to do next
};

// Installs a verified package file. One install at a time; `finished` is emitted exactly once
// per `install`, on the object's thread, never from inside `install` itself.
class PackageInstaller : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~PackageInstaller() override = default;

    virtual void install(const QString& packagePath) = 0;

signals:
    void finished(const InstallOutcome& outcome);
};

// Starts the installed binary again and ends this process. Behind a seam so tests can observe
// when a relaunch would have happened without ending the test.
class Relauncher {
public:
    virtual ~Relauncher() = default;
    virtual void relaunch() = 0;
};
