#include "app/demo/DemoShots.h"

#include "app/demo/DemoScript.h"
#include "base/Folders.h"
#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "update/UpdateController.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>
#include <QWheelEvent>
#include <cstdio>

namespace {
// Time for the layout and the scene to settle after a change before the window is grabbed.
constexpr int kSettleMs = 250;

QAccessibleInterface* findNamed(QAccessibleInterface* node, const QString& name) {
    if (!node)
        return nullptr;
    if (node->text(QAccessible::Name) == name && node->actionInterface())
        return node;
    for (int i = 0; i < node->childCount(); ++i)
        if (QAccessibleInterface* found = findNamed(node->child(i), name))
            return found;
    return nullptr;
}
} // namespace

DemoShots::DemoShots(QQuickWindow& window, SessionController& controller, AppSettings& settings,
                     UpdateController& updater, QString folder, QObject* parent)
    : QObject(parent), m_window(&window), m_controller(controller), m_settings(settings),
      m_updater(updater), m_folder(std::move(folder)) {
    if (const QString why = makeFolder(m_folder); !why.isEmpty())
        fprintf(stderr, "corvinel: demo: could not create the folder %s (%s)\n",
                qPrintable(m_folder), qPrintable(why));
}

QString DemoShots::folderFromEnvironment() {
    return qEnvironmentVariable("CORVINEL_DEMO_SHOTS");
}

void DemoShots::moment(const QString& name) {
    if (name == QLatin1String("scroll-up")) {
        scrollUp();
        return;
    }
    // Back at the newest card, as a reader who presses the pill is.
    if (name == QLatin1String("follow")) {
        press(QStringLiteral("New answers below"));
        return;
    }
    if (name == QLatin1String("my-answer") && !press(QStringLiteral("My answer")))
        fprintf(stderr, "corvinel: demo: no \"My answer\" control to unfold\n");
    if (name == QLatin1String("end")) {
        m_controller.stop();
        for (const SessionController::BannerLink& link : m_controller.bannerLinks())
            if (link.label == QLatin1String("Review"))
                m_reviewPage = link.path;
        QTimer::singleShot(kSettleMs * 2, this, [this] {
            grab(QStringLiteral("banner"));
            showDialogs();
        });
        return;
    }
    QTimer::singleShot(kSettleMs, this, [this, name] { grab(name); });
}

void DemoShots::showDialogs() {
    // What the gear does (tests click it); a press through accessibility does not reach a
    // plain button while no assistive technology runs.
    if (QObject* content = m_window->findChild<QObject*>(QStringLiteral("content")))
        content->setProperty("showSettings", true);
    else
        fprintf(stderr, "corvinel: demo: no content view to open the settings from\n");
    QTimer::singleShot(kSettleMs * 2, this, [this] {
        grab(dialog(), QStringLiteral("settings"));
        if (QObject* content = m_window->findChild<QObject*>(QStringLiteral("content")))
            content->setProperty("showSettings", false);
        m_settings.setHasCompletedOnboarding(false);
        QTimer::singleShot(kSettleMs * 2, this, [this] { showWalkthroughStep(0); });
    });
}

void DemoShots::showWalkthroughStep(int step) {
    static const char* const names[] = {"welcome", "permissions", "context", "ready"};
    grab(dialog(), QStringLiteral("walkthrough-") + QLatin1String(names[step]));
    // What "Continue" and "Start using it" do.
    QQuickWindow* walkthrough = dialog();
    QObject* model =
        walkthrough ? walkthrough->findChild<QObject*>(QStringLiteral("walkthrough")) : nullptr;
    if (!model || step == 3) {
        if (model) // "Start using it"
            QMetaObject::invokeMethod(model, "primary");
        QTimer::singleShot(kSettleMs * 2, this, [this] { showSoftwareUpdate(); });
        return;
    }
    QMetaObject::invokeMethod(model, "primary");
    QTimer::singleShot(kSettleMs * 2, this, [this, step] { showWalkthroughStep(step + 1); });
}

void DemoShots::showSoftwareUpdate() {
    // What "Check for Updates…" does; the demo's feed offers the next version.
    m_window->setProperty("showSoftwareUpdate", true);
    m_updater.checkForUpdates();
    QTimer::singleShot(kSettleMs * 2, this, [this] {
        grab(dialog(), QStringLiteral("update-available"));
        m_updater.takeFeed(DemoScript::appcast(m_updater.currentVersion()));
        QTimer::singleShot(kSettleMs * 2, this, [this] {
            grab(dialog(), QStringLiteral("update-current"));
            // Long after the stop: the page has its recording's levels by now.
            const QString review = m_folder + QStringLiteral("/review.html");
            QFile::remove(review);
            if (m_reviewPage.isEmpty() || !QFile::copy(m_reviewPage, review))
                fprintf(stderr, "corvinel: demo: no review page to keep\n");
            QCoreApplication::quit();
        });
    });
}

QQuickWindow* DemoShots::dialog() const {
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        auto* quick = qobject_cast<QQuickWindow*>(window);
        if (quick && quick != m_window && quick->isVisible())
            return quick;
    }
    return nullptr;
}

void DemoShots::grab(const QString& name) {
    grab(m_window, name);
}

void DemoShots::grab(QQuickWindow* window, const QString& name) {
    if (!window) {
        fprintf(stderr, "corvinel: demo: no window for %s\n", qPrintable(name));
        return;
    }
    const QString path = m_folder + u'/' + name + QStringLiteral(".png");
    const QImage image = window->grabWindow();
    if (image.isNull() || !image.save(path))
        fprintf(stderr, "corvinel: demo: could not save %s\n", qPrintable(path));
    else
        fprintf(stderr, "corvinel: demo: saved %s\n", qPrintable(path));
}

void DemoShots::scrollUp() {
    if (!m_window)
        return;
    // A reader turning the wheel over the cards: real input, as the list expects it.
    const QPointF centre(m_window->width() / 2.0, m_window->height() / 2.0);
    for (int i = 0; i < 6; ++i) {
        QWheelEvent wheel(centre, m_window->mapToGlobal(centre), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(m_window, &wheel);
    }
}

bool DemoShots::press(const QString& accessibleName) {
    if (!m_window)
        return false;
    QAccessibleInterface* target =
        findNamed(QAccessible::queryAccessibleInterface(m_window.data()), accessibleName);
    if (!target)
        return false;
    target->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    return true;
}
