#pragma once

#include "base/MainThreadInbox.h"

#include <QThreadPool>

// Runs `work` on the shared thread pool, then `deliver(result)` on the main thread unless
// `receiver` has been destroyed by then: for what a view model asks on the user's behalf that
// may take seconds (the sound server's listings, a document's text), never on the GUI thread.
template <typename Work, typename Deliver>
void runInBackground(QObject* receiver, Work work, Deliver deliver) {
    auto inbox = MainThreadInbox::closedWith(receiver);
    QThreadPool::globalInstance()->start([inbox, work = std::move(work), deliver] {
        auto result = work();
        // The call holds the inbox: were this task the last to let it go, it would close first.
        inbox->post([inbox, deliver, result] { deliver(result); });
    });
}
