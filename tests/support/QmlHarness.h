#pragma once

#include <QObject>
#include <QQmlApplicationEngine>
#include <QStringList>
#include <QVariantMap>
#include <memory>

class AppSettings;
class QQuickWindow;
class QQuickItem;
class SessionController;

// Loads a file of the Corvinel QML module with initial properties and collects every warning
// the engine (or Qt's message handler) reports while it lives.
class QmlHarness {
public:
    QmlHarness();
    ~QmlHarness();

    // Loads qrc:/Corvinel/<file>; returns the root object or null.
    QObject* load(const QString& file, const QVariantMap& properties);
    // The application's window, Main.qml, over this controller and these settings.
    QObject* loadMain(SessionController& session, AppSettings& settings);
    QQuickWindow* window() const;
    // The first visible item whose Accessible.name is `name`, in the main window and then in
    // the dialog windows it shows; null when there is none.
    QQuickItem* findByAccessibleName(const QString& name) const;
    // The same, waiting up to five seconds for the item to appear; null when it never does.
    QQuickItem* waitForAccessibleName(const QString& name) const;
    // A left click in the middle of the item, through its window.
    static void click(QQuickItem* item);

    QStringList warnings() const { return m_warnings; }
    QQmlApplicationEngine& engine() { return *m_engine; }

private:
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QStringList m_warnings;
};
