#include "ui/FileChooser.h"

#include "platform/PortalWindow.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMetaObject>
#include <QRegularExpression>

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

// The portal's filter: a name and (kind, pattern) rules, kind 0 being a glob.
struct PortalRule {
    uint kind = 0;
    QString pattern;
};
struct PortalFilter {
    QString name;
    QList<PortalRule> rules;
};
} // namespace

Q_DECLARE_METATYPE(PortalRule)
Q_DECLARE_METATYPE(PortalFilter)

namespace {
QDBusArgument& operator<<(QDBusArgument& argument, const PortalRule& rule) {
    argument.beginStructure();
    argument << rule.kind << rule.pattern;
    argument.endStructure();
    return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalRule& rule) {
    argument.beginStructure();
    argument >> rule.kind >> rule.pattern;
    argument.endStructure();
    return argument;
}
QDBusArgument& operator<<(QDBusArgument& argument, const PortalFilter& filter) {
    argument.beginStructure();
    argument << filter.name << filter.rules;
    argument.endStructure();
    return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalFilter& filter) {
    argument.beginStructure();
    argument >> filter.name >> filter.rules;
    argument.endStructure();
    return argument;
}

void registerTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalRule>();
        qDBusRegisterMetaType<QList<PortalRule>>();
        qDBusRegisterMetaType<PortalFilter>();
        qDBusRegisterMetaType<QList<PortalFilter>>();
        return true;
    }();
    Q_UNUSED(registered)
}
} // namespace

FileChooser::FileChooser(QObject* parent) : QObject(parent) {}

FileChooser::Filter FileChooser::parseNameFilter(const QString& nameFilter) {
    static const QRegularExpression withPatterns(QStringLiteral(R"(^(.*?)\s*\(([^)]*)\)\s*$)"));
    const QRegularExpressionMatch match = withPatterns.match(nameFilter);
    if (!match.hasMatch())
        return {nameFilter.trimmed(), nameFilter.split(u' ', Qt::SkipEmptyParts)};
    const QString name = match.captured(1).trimmed();
    const QStringList patterns = match.captured(2).split(u' ', Qt::SkipEmptyParts);
    return {name.isEmpty() ? patterns.join(u' ') : name, patterns};
}

void FileChooser::setWindow(QWindow* window) {
    if (m_window == window)
        return;
    m_window = window;
    emit windowChanged();
}

void FileChooser::open(const QString& title, const QStringList& nameFilters, bool multiple,
                       const QString& folder) {
    // A folder not made yet (no session has run) is left to the chooser's own choice.
    const QString existing = QFileInfo(folder).isDir() ? folder : QString();
    if (title != m_title || nameFilters != m_nameFilters || multiple != m_multiple ||
        existing != m_folder) {
        m_title = title;
        m_nameFilters = nameFilters;
        m_multiple = multiple;
        m_folder = existing;
        emit requestChanged();
    }
    stopListening();

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QMetaObject::invokeMethod(this, &FileChooser::fallBack, Qt::QueuedConnection);
        return;
    }
    registerTypes();
    // The reply names the request object, but the answer may come before the reply does:
    // listen on the path the portal derives from our name and a token first.
    const QString token = QStringLiteral("corvinel%1").arg(++m_requests);
    QString sender = bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    m_requestPath = kPath + QStringLiteral("/request/") + sender + u'/' + token;
    bus.connect(kService, m_requestPath, kRequestInterface, QStringLiteral("Response"), this,
                SLOT(onResponse(uint, QVariantMap)));

    QList<PortalFilter> filters;
    for (const QString& nameFilter : nameFilters) {
        const Filter parsed = parseNameFilter(nameFilter);
        PortalFilter filter{parsed.name, {}};
        for (const QString& pattern : parsed.patterns)
            filter.rules.append({0, pattern});
        filters.append(filter);
    }
    QVariantMap options{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("multiple"), multiple},
                        {QStringLiteral("modal"), true}};
    if (!filters.isEmpty()) {
        options.insert(QStringLiteral("filters"), QVariant::fromValue(filters));
        options.insert(QStringLiteral("current_filter"), QVariant::fromValue(filters.first()));
    }
    // The portal takes the folder as a NUL-terminated byte string.
    if (!m_folder.isEmpty())
        options.insert(QStringLiteral("current_folder"), QFile::encodeName(m_folder) + '\0');
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.portal.FileChooser"),
        QStringLiteral("OpenFile"));
    call << portalParentWindow(QGuiApplication::platformName(), m_window ? m_window->winId() : 0)
         << title << options;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* pending) {
                const QDBusPendingReply<QDBusObjectPath> reply = *pending;
                pending->deleteLater();
                if (reply.isError()) {
                    qInfo("[Corvinel] file chooser portal unavailable (%s); using our own dialog",
                          qPrintable(reply.error().name()));
                    stopListening();
                    fallBack();
                }
            });
}

void FileChooser::acceptUrls(const QList<QUrl>& urls) {
    QStringList paths;
    for (const QUrl& url : urls)
        paths.append(url.isLocalFile() ? url.toLocalFile() : url.toString());
    if (!paths.isEmpty())
        emit chosen(paths);
}

void FileChooser::onResponse(uint response, const QVariantMap& results) {
    stopListening();
    // 0 chosen, 1 cancelled, 2 the portal could not show its dialog.
    if (response == 2) {
        fallBack();
        return;
    }
    if (response != 0)
        return;
    QList<QUrl> urls;
    for (const QString& uri : results.value(QStringLiteral("uris")).toStringList())
        urls.append(QUrl(uri));
    acceptUrls(urls);
}

void FileChooser::fallBack() {
    emit fallbackRequested();
}

void FileChooser::stopListening() {
    if (m_requestPath.isEmpty())
        return;
    QDBusConnection::sessionBus().disconnect(kService, m_requestPath, kRequestInterface,
                                             QStringLiteral("Response"), this,
                                             SLOT(onResponse(uint, QVariantMap)));
    m_requestPath.clear();
}
