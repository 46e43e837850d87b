#include "base/MainThreadInbox.h"

#include <QCoreApplication>
#include <QMetaObject>

MainThreadInbox::MainThreadInbox() : m_open(std::make_shared<std::atomic<bool>>(true)) {}

MainThreadInbox::~MainThreadInbox() {
    close();
}

std::shared_ptr<MainThreadInbox> MainThreadInbox::closedWith(QObject* receiver) {
    auto inbox = std::make_shared<MainThreadInbox>();
    // Only the flag is captured: the connection goes with the receiver and holds no inbox.
    QObject::connect(receiver, &QObject::destroyed,
                     [open = inbox->m_open] { open->store(false, std::memory_order_release); });
    return inbox;
}

void MainThreadInbox::post(std::function<void()> call) const {
    if (!isOpen())
        return;
    // The application object lives on the main thread and outlives every owner; the flag
    // travels with the call, so the call is judged when it runs, not when it was posted.
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [open = m_open, call = std::move(call)] {
            if (open->load(std::memory_order_acquire))
                call();
        },
        Qt::QueuedConnection);
}
