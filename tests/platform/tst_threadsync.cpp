// The platform's lock and condition hand items between threads: every item arrives exactly once, none is
// lost to a wake that came before its waiter slept, and a wake of all ends every waiter.

#include "platform/ThreadSync.h"

#include <QtTest>

#include <deque>
#include <thread>
#include <vector>

class TestThreadSync : public QObject
{
    Q_OBJECT

  private slots:
    void handOver_data()
    {
        QTest::addColumn<int>("consumers");
        QTest::addColumn<int>("items");
        QTest::newRow("one consumer") << 1 << 20000;
        QTest::newRow("more consumers than cores") << 8 << 20000;
    }

    // Producer and consumers wake one another only when the other side waits, as the deflate does.
    void handOver()
    {
        QFETCH(int, consumers);
        QFETCH(int, items);
        platform::Mutex mutex;
        platform::Condition available, drained;
        std::deque<int> queue;
        int idle = 0;
        bool ending = false;
        long long total = 0;
        std::vector<std::thread> threads;
        for (int c = 0; c < consumers; ++c) {
            threads.emplace_back([&] {
                std::unique_lock<platform::Mutex> lock(mutex);
                for (;;) {
                    ++idle;
                    available.wait(lock, [&] { return ending || !queue.empty(); });
                    --idle;
                    if (queue.empty())
                        return;
                    total += queue.front();
                    queue.pop_front();
                    if (queue.empty())
                        drained.notifyAll();
                }
            });
        }
        for (int i = 1; i <= items; ++i) {
            std::unique_lock<platform::Mutex> lock(mutex);
            drained.wait(lock, [&] { return queue.size() < 4; }); // a bounded queue: the producer waits too
            queue.push_back(i);
            if (idle > 0)
                available.notifyOne();
        }
        {
            std::unique_lock<platform::Mutex> lock(mutex);
            drained.wait(lock, [&] { return queue.empty(); });
            ending = true;
        }
        available.notifyAll();
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(total, static_cast<long long>(items) * (items + 1) / 2);
    }
};

QTEST_GUILESS_MAIN(TestThreadSync)
#include "tst_threadsync.moc"
