#include "ui/ContextImporter.h"

#include "base/Background.h"
#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "settings/Graphemes.h"

QString ContextImporter::nothingReadBanner(Style style) {
    if (style == Style::walkthrough)
        return QStringLiteral("Couldn't read any text from that file.");
    return QStringLiteral("Could not read any text from those files.");
}

QString ContextImporter::loadedBanner(const ContextLoader::Result& result) {
    return QStringLiteral("Context loaded: ") + result.names.join(QStringLiteral(", ")) +
           QStringLiteral(" (") + QString::number(Graphemes::count(result.text)) +
           QStringLiteral(" chars)");
}

QList<QUrl> ContextImporter::urlsFromPaths(const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(path.startsWith(QStringLiteral("file:")) ? QUrl(path)
                                                             : QUrl::fromLocalFile(path));
    return urls;
}

void ContextImporter::setTargets(SessionController* session, AppSettings* settings) {
    m_session = session;
    m_settings = settings;
}

void ContextImporter::import(const QStringList& paths) {
    if (paths.isEmpty())
        return;
    runInBackground(
        this, [urls = urlsFromPaths(paths)] { return ContextLoader::load(urls); },
        [this](const ContextLoader::Result& result) { apply(result); });
}

void ContextImporter::apply(const ContextLoader::Result& result) {
    if (result.text.isEmpty()) {
        if (m_session)
            m_session->setBannerText(nothingReadBanner(m_style));
    } else {
        if (m_settings) {
            m_settings->setContextText(result.text);
            m_settings->setContextFileNames(result.names);
        }
        if (m_session && m_style == Style::controlBar)
            m_session->setBannerText(loadedBanner(result));
    }
    emit finished();
}
