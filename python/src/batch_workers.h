// Python package qrcore: work handed out in batches to helper threads while the caller goes on
// producing more (a scanner reading the next stretch of a file while the records of the last
// are read). The caller waits only for the batches it names, working on those still waiting
// itself, so producer and helpers share the processors without either idling long.
//
// About use: one producing thread calls take(), submit(), waitFor() and drain(); the work
// function runs on any of the threads and must not throw. Helpers start at the second batch
// submitted, so short inputs never pay for a thread, and not at all when the process may run
// on one processor only (or when the system refuses a thread): the caller then does all the
// work itself, as it submits.
#pragma once

#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace qrpy {

template <class Batch>
class BatchWorkers {
public:
    using Work = std::function<void(Batch&)>;

    BatchWorkers(Work work, std::size_t nMaxHelpers) : m_work(std::move(work)), m_nHelpers(helpersFor(nMaxHelpers)) {}
    ~BatchWorkers() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bStop = true;
        }
        m_cvWork.notify_all();
        for (std::thread& thread : m_threads) thread.join();
    }
    BatchWorkers(const BatchWorkers&) = delete;
    BatchWorkers& operator=(const BatchWorkers&) = delete;

    // An empty batch to fill: one whose work is done, or a new one.
    std::unique_ptr<Batch> take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_spare.empty()) return std::make_unique<Batch>();
        std::unique_ptr<Batch> batch = std::move(m_spare.back());
        m_spare.pop_back();
        return batch;
    }

    // Queues a filled batch; returns its number (1 for the first).
    uint64_t submit(std::unique_ptr<Batch> batch) {
        const uint64_t nNumber = ++m_nSubmitted;
        if (nNumber == 2) startHelpers();
        if (m_threads.empty()) {
            m_work(*batch);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_spare.push_back(std::move(batch));
            return nNumber;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pending.emplace_back(nNumber, std::move(batch));
        }
        m_cvWork.notify_one();
        return nNumber;
    }

    // Returns once the work of every batch up to number nLast is done, the caller working on
    // those still waiting.
    void waitFor(uint64_t nLast) {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_pending.empty() && m_pending.front().first <= nLast) runOldest(lock);
        m_cvDone.wait(lock, [&] {
            return std::none_of(m_running.begin(), m_running.end(), [&](uint64_t n) { return n <= nLast; });
        });
    }
    // Every batch submitted is done, so that what the work writes may be moved or read.
    void drain() { waitFor(m_nSubmitted); }
    uint64_t submitted() const { return m_nSubmitted; }

private:
    // The processors this process may run on, less the caller's, at most nMax.
    static std::size_t helpersFor(std::size_t nMax) {
        cpu_set_t set;
        CPU_ZERO(&set);
        if (sched_getaffinity(0, sizeof set, &set) != 0) return 0;
        const auto nProcessors = static_cast<std::size_t>(CPU_COUNT(&set));
        return nProcessors <= 1 ? 0 : std::min(nMax, nProcessors - 1);
    }

    void startHelpers() {
        for (std::size_t i = 0; i < m_nHelpers; ++i) {
            try {
                m_threads.emplace_back([this] { helperLoop(); });
            } catch (const std::system_error&) {
                break;  // fewer helpers (or none): the caller does the rest
            }
        }
    }

    // Takes the oldest waiting batch and works on it with the lock released.
    void runOldest(std::unique_lock<std::mutex>& lock) {
        auto [nNumber, batch] = std::move(m_pending.front());
        m_pending.pop_front();
        m_running.push_back(nNumber);
        lock.unlock();
        m_work(*batch);
        lock.lock();
        m_running.erase(std::find(m_running.begin(), m_running.end(), nNumber));
        m_spare.push_back(std::move(batch));
        m_cvDone.notify_all();
    }

    void helperLoop() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_cvWork.wait(lock, [this] { return m_bStop || !m_pending.empty(); });
            if (m_pending.empty()) return;
            runOldest(lock);
        }
    }

    Work m_work;
    std::size_t m_nHelpers;
    uint64_t m_nSubmitted = 0;
    std::mutex m_mutex;
    std::condition_variable m_cvWork, m_cvDone;
    std::deque<std::pair<uint64_t, std::unique_ptr<Batch>>> m_pending;  // submitted, not yet taken
    std::vector<uint64_t> m_running;                                    // taken, work not yet done
    std::vector<std::unique_ptr<Batch>> m_spare;                        // done, ready to be filled again
    bool m_bStop = false;
    std::vector<std::thread> m_threads;
};

}  // namespace qrpy
