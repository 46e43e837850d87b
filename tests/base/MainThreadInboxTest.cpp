#include "base/MainThreadInbox.h"
#include "base/Background.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {
constexpr int kWait = 5000;

// Posts from a thread of its own until it is destroyed, the way a capture or a worker does;
// its destructor ends the thread before the inbox goes.
class Poster {
public:
    explicit Poster(std::atomic<int>& runs)
        : m_thread([this, &runs] {
              while (!m_stopping.load())
                  m_inbox.post([&runs] { ++runs; });
          }) {}
    ~Poster() {
        m_stopping = true;
        m_thread.join();
    }

private:
    MainThreadInbox m_inbox;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};
} // namespace

TEST(MainThreadInboxTest, CallsFromAnotherThreadRunOnTheMainThreadInOrder) {
    MainThreadInbox inbox;
    std::vector<int> order;
    std::vector<QThread*> threads;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            inbox.post([&, i] {
                order.push_back(i);
                threads.push_back(QThread::currentThread());
            });
    });
    worker.join();
    EXPECT_TRUE(order.empty()); // queued, not run on the worker
    ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == 3; }, kWait));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    for (QThread* thread : threads)
        EXPECT_EQ(thread, QCoreApplication::instance()->thread());
}

// The owner goes while its thread still posts: what was queued before, and whatever the thread
// posted during the destruction, never runs after it.
TEST(MainThreadInboxTest, NothingRunsOnceItsOwnerIsDestroyed) {
    std::atomic<int> runs{0};
    auto poster = std::make_unique<Poster>(runs);
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs.load() > 0; }, kWait));
    poster.reset();
    const int before = runs.load();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(runs.load(), before);
}

// A call may destroy the inbox that delivered it (a callback that ends its owner): the call
// finishes, and the ones behind it are dropped.
TEST(MainThreadInboxTest, ACallThatDestroysItsInboxEndsTheQueue) {
    auto inbox = std::make_unique<MainThreadInbox>();
    bool first = false;
    bool second = false;
    inbox->post([&] {
        inbox.reset();
        first = true;
    });
    inbox->post([&] { second = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return first; }, kWait));
    QCoreApplication::processEvents();
    EXPECT_FALSE(second);
}

// Work done on the pool reaches its receiver on the main thread, unless the receiver went
// while the work ran.
TEST(MainThreadInboxTest, BackgroundResultsReachOnlyAReceiverThatStillExists) {
    for (const bool receiverGoes : {false, true}) {
        SCOPED_TRACE(receiverGoes ? "receiver destroyed" : "receiver kept");
        auto receiver = std::make_unique<QObject>();
        std::atomic<bool> release{false};
        QThread* deliveredOn = nullptr;
        runInBackground(
            receiver.get(),
            [&] {
                while (!release.load())
                    std::this_thread::yield();
                return 42;
            },
            [&](int result) {
                EXPECT_EQ(result, 42);
                deliveredOn = QThread::currentThread();
            });
        // The delivery is posted once the work ends; a receiver gone by then hears nothing.
        if (receiverGoes)
            receiver.reset();
        release = true;
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        EXPECT_EQ(deliveredOn, receiverGoes ? nullptr : QCoreApplication::instance()->thread());
        if (receiver) {
            // A receiver that asks again and again (a poll) keeps one inbox, not one a call.
            runInBackground(
                receiver.get(), [] { return 0; }, [](int) {});
            QThreadPool::globalInstance()->waitForDone();
            EXPECT_EQ(receiver->children().size(), 1);
        }
    }
}
