#pragma once

#include "base/MainThreadInbox.h"

#include <QThreadPool>

// Runs `work` on the shared thread pool, then `deliver(result)` on the main thread unless
// `inbox` has been closed by then: for what may take seconds (the sound server's listings and
// answers, a document's text), never on the GUI thread. An owner that is not a QObject keeps
// the inbox and closes it when it goes.
template <typename Work, typename Deliver>
void runInBackground(std::shared_ptr<MainThreadInbox> inbox, Work work, Deliver deliver) {
    QThreadPool::globalInstance()->start([inbox, work = std::move(work), deliver] {
        auto result = work();
        // The call holds the inbox: were this task the last to let it go, it would close first.
        inbox->post([inbox, deliver, result] { deliver(result); });
    });
}

// The same for a QObject `receiver`: nothing is delivered once it has been destroyed.
template <typename Work, typename Deliver>
void runInBackground(QObject* receiver, Work work, Deliver deliver) {
    runInBackground(MainThreadInbox::closedWith(receiver), std::move(work), std::move(deliver));
}
