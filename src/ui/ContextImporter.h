#pragma once

#include "context/ContextLoader.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

class AppSettings;
class SessionController;

// Loads the chosen context documents on the thread pool, then stores their text and names in
// the settings and reports the outcome in the banner.
class ContextImporter : public QObject {
    Q_OBJECT

public:
    // The control bar reports both outcomes; the walkthrough, where the CV row shows what was
    // loaded, only a file that gave nothing.
    enum class Style { controlBar, walkthrough };

    static QString nothingReadBanner(Style style = Style::controlBar);
    // "Context loaded: a.pdf, b.md (1234 chars)"
    static QString loadedBanner(const ContextLoader::Result& result);
    // Paths or file URLs, as file choosers hand them out.
    static QList<QUrl> urlsFromPaths(const QStringList& paths);

    explicit ContextImporter(QObject* parent = nullptr) : QObject(parent) {}
    explicit ContextImporter(Style style, QObject* parent = nullptr)
        : QObject(parent), m_style(style) {}

    void setTargets(SessionController* session, AppSettings* settings);
    void import(const QStringList& paths);

signals:
    // After the outcome is stored and announced.
    void finished();

private:
    void apply(const ContextLoader::Result& result);

    QPointer<SessionController> m_session;
    QPointer<AppSettings> m_settings;
    Style m_style = Style::controlBar;
};
