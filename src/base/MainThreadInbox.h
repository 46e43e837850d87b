#pragma once

#include <atomic>
#include <functional>
#include <memory>

class QObject;

// Hands calls from any thread (a sound-server thread, a std::thread, a pool task) to the main
// thread, where they run in the order they were posted, and only while the inbox is open.
//
// Closing it (or destroying it) drops every call that has not run yet, so a call may capture
// its owner's `this`: once the owner closes its inbox, first thing in its destructor or by
// declaring it as its first member, nothing it posted can reach it. Each queued call holds the
// inbox's open flag, never the inbox, so an owner that a call destroys, and one whose calls are
// still queued when it goes, leave nothing dangling behind.
//
// post() may run on any thread at the same time as close(); a thread that posts must be done
// before the inbox's own storage goes (joined in the owner's destructor, or the inbox kept in a
// shared_ptr the thread holds).
class MainThreadInbox {
public:
    MainThreadInbox();
    ~MainThreadInbox();
    MainThreadInbox(const MainThreadInbox&) = delete;
    MainThreadInbox& operator=(const MainThreadInbox&) = delete;

    // The inbox that closes when `receiver` is destroyed (one per receiver, made on first use),
    // for work a QObject hands to another thread without owning it (a pool task). Whoever
    // posts holds the returned pointer. Call on the receiver's thread.
    static std::shared_ptr<MainThreadInbox> closedWith(QObject* receiver);

    // Queues `call` for the application's thread; without an application, or once closed,
    // drops it.
    void post(std::function<void()> call) const;
    // Main thread or any: no call posted before or after runs from now on.
    void close() { m_open->store(false, std::memory_order_release); }
    bool isOpen() const { return m_open->load(std::memory_order_acquire); }

private:
    std::shared_ptr<std::atomic<bool>> m_open;
};
