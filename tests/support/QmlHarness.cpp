#include "support/QmlHarness.h"

#include "session/SessionController.h"
#include "settings/AppSettings.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTest>
#include <QUrl>
#include <QtQml/QQmlExtensionPlugin>

Q_IMPORT_QML_PLUGIN(CorvinelPlugin)

namespace {
QStringList* s_collected = nullptr;
QtMessageHandler s_previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (s_collected && type >= QtWarningMsg)
        s_collected->append(message);
    if (s_previous)
        s_previous(type, context, message);
}

QQuickItem* search(QQuickItem* item, const QString& name) {
    if (!item)
        return nullptr;
    if (item->isVisible()) {
        if (QAccessibleInterface* a = QAccessible::queryAccessibleInterface(item);
            a && a->text(QAccessible::Name) == name)
            return item;
        for (QQuickItem* child : item->childItems())
            if (QQuickItem* found = search(child, name))
                return found;
    }
    return nullptr;
}
} // namespace

QmlHarness::QmlHarness() : m_engine(std::make_unique<QQmlApplicationEngine>()) {
    // Qt takes the style once per process, before the first Controls import.
    static const bool styled = [] {
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
        return true;
    }();
    Q_UNUSED(styled);
    s_collected = &m_warnings;
    s_previous = qInstallMessageHandler(collect);
    QObject::connect(m_engine.get(), &QQmlEngine::warnings, [this](const QList<QQmlError>& errors) {
        for (const QQmlError& error : errors)
            m_warnings.append(error.toString());
    });
}

QmlHarness::~QmlHarness() {
    m_engine.reset();
    qInstallMessageHandler(s_previous);
    s_collected = nullptr;
}

QObject* QmlHarness::load(const QString& file, const QVariantMap& properties) {
    m_engine->setInitialProperties(properties);
    m_engine->load(QUrl(QStringLiteral("qrc:/Corvinel/") + file));
    return m_engine->rootObjects().isEmpty() ? nullptr : m_engine->rootObjects().constLast();
}

QObject* QmlHarness::loadMain(SessionController& session, AppSettings& settings) {
    return load(QStringLiteral("Main.qml"),
                {{QStringLiteral("session"), QVariant::fromValue(&session)},
                 {QStringLiteral("settings"), QVariant::fromValue(&settings)}});
}

QQuickWindow* QmlHarness::window() const {
    return m_engine->rootObjects().isEmpty()
               ? nullptr
               : qobject_cast<QQuickWindow*>(m_engine->rootObjects().constLast());
}

QQuickItem* QmlHarness::findByAccessibleName(const QString& name) const {
    QQuickWindow* main = window();
    if (!main)
        return nullptr;
    if (QQuickItem* found = search(main->contentItem(), name))
        return found;
    // Then the dialog windows the main one opens.
    for (QWindow* other : QGuiApplication::topLevelWindows()) {
        auto* dialog = qobject_cast<QQuickWindow*>(other);
        if (dialog && dialog != main && dialog->isVisible())
            if (QQuickItem* found = search(dialog->contentItem(), name))
                return found;
    }
    return nullptr;
}

QQuickItem* QmlHarness::waitForAccessibleName(const QString& name) const {
    QQuickItem* item = nullptr;
    (void)QTest::qWaitFor([&] { return (item = findByAccessibleName(name)) != nullptr; });
    return item;
}

void QmlHarness::click(QQuickItem* item) {
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(item->window(), Qt::LeftButton, {}, centre.toPoint());
}
