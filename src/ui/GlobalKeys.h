#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

class GlobalShortcuts;
class QJSEngine;
class QQmlEngine;

// The shortcuts that work from any window, as the views see them: what each command is bound
// to (or why there are none), and the commands themselves when the desktop reports a press.
// One for the process; inert until the app hands it the desktop's portal client, so a view
// loaded without one (the tests, the demo) binds nothing.
class GlobalKeys : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString summary READ summary NOTIFY summaryChanged)

public:
    static GlobalKeys& instance();
    static GlobalKeys* create(QQmlEngine*, QJSEngine*);

    // Binds Start/Stop, Ask About the Screen and the question field through `client`.
    void use(GlobalShortcuts* client);
    QString summary() const { return m_summary; }

    // The command behind a shortcut id; a press of an unknown one does nothing.
    void press(const QString& id);
    static QString describe(const GlobalShortcuts& client);

signals:
    void summaryChanged();
    void startStopPressed();
    void askAboutScreenPressed();
    void askFieldPressed();

private:
    GlobalKeys() = default;
    void update();

    QPointer<GlobalShortcuts> m_client;
    QString m_summary;
};
