#pragma once

#include "base/Wiring.h"
#include "update/UpdateController.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

// What the "Software Update" window shows of the updater (which may be absent), and words of
// its own: when it last looked, the
// release notes as plain text with bullets (a feed's HTML never reaches a rich-text view, so it
// cannot load anything), and whether "Check Again" makes sense now.
class SoftwareUpdateModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(UpdateController* updater READ updater WRITE setUpdater NOTIFY updaterChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(bool canInstall READ canInstall NOTIFY canInstallChanged)
    Q_PROPERTY(bool canRestart READ canRestart NOTIFY canRestartChanged)
    Q_PROPERTY(QString lastCheckText READ lastCheckText NOTIFY lastCheckTextChanged)
    Q_PROPERTY(QString releaseNotesText READ releaseNotesText NOTIFY releaseNotesChanged)
    Q_PROPERTY(QString releaseNotesLinkText READ releaseNotesLinkText NOTIFY releaseNotesChanged)
    Q_PROPERTY(bool canCheck READ canCheck NOTIFY canCheckChanged)

public:
    explicit SoftwareUpdateModel(QObject* parent = nullptr);

    UpdateController* updater() const { return m_updater; }
    void setUpdater(UpdateController* updater);

    QString statusText() const { return m_updater ? m_updater->statusText() : QString(); }
    bool busy() const { return m_updater && m_updater->busy(); }
    bool canInstall() const { return m_updater && m_updater->canInstall(); }
    bool canRestart() const { return m_updater && m_updater->canRestart(); }
    QString lastCheckText() const;
    QString releaseNotesText() const;
    QString releaseNotesLinkText() const;
    bool canCheck() const;

    // "Last checked: today at 09:41", or the date when it was another day; "Not checked yet".
    static QString lastCheckText(const QDateTime& when, const QDateTime& now);

    Q_INVOKABLE void check();
    Q_INVOKABLE void install();
    Q_INVOKABLE void restart();

signals:
    void updaterChanged();
    void statusTextChanged();
    void busyChanged();
    void canInstallChanged();
    void canRestartChanged();
    void lastCheckTextChanged();
    void releaseNotesChanged();
    void canCheckChanged();

private:
    QPointer<UpdateController> m_updater;
    Wiring m_connections;
};
