#include "base/MainThreadInbox.h"

#include <QCoreApplication>
#include <QMetaObject>

MainThreadInbox::MainThreadInbox() : m_open(std::make_shared<std::atomic<bool>>(true)) {}

MainThreadInbox::~MainThreadInbox() {
    close();
}

namespace {

const QString kHolderName = QStringLiteral("corvinel-main-thread-inbox");

// A child of the receiver, so it goes, and closes the inbox, when the receiver does. One per
// receiver however often it asks: a receiver that polls must not collect them.
class InboxHolder final : public QObject {
public:
    explicit InboxHolder(QObject* receiver)
        : QObject(receiver), inbox(std::make_shared<MainThreadInbox>()) {
        setObjectName(kHolderName);
    }
    ~InboxHolder() override { inbox->close(); }
    const std::shared_ptr<MainThreadInbox> inbox;
};

} // namespace

std::shared_ptr<MainThreadInbox> MainThreadInbox::closedWith(QObject* receiver) {
    auto* holder = static_cast<InboxHolder*>(
        receiver->findChild<QObject*>(kHolderName, Qt::FindDirectChildrenOnly));
    if (!holder)
        holder = new InboxHolder(receiver);
    return holder->inbox;
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
