// Splits a range of rows between the cores. Work items must be independent.
#pragma once

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

namespace spectrum::detail {

// The most threads one engine call may use, process-wide; 0 (the default, the command-line
// tools' setting) leaves it to the number of cores. A host that runs several calls at once (the
// Python module under a batch scheduler) lowers it.
inline std::atomic<int> threadLimitSetting{0};
inline void setThreadLimit(int count) { threadLimitSetting.store(count < 0 ? 0 : count); }
inline int threadLimit() { return threadLimitSetting.load(); }
// `wanted` threads within the limit.
inline unsigned limitThreads(unsigned wanted) {
    const int limit = threadLimit();
    return limit > 0 ? std::min(wanted, static_cast<unsigned>(limit)) : wanted;
}

template <typename RowFunction>
void forEachRowParallel(int rows, RowFunction work) {
    const unsigned cores =
        std::max(1u, limitThreads(std::min(4u, std::thread::hardware_concurrency())));
    if (cores == 1 || rows < 64) {
        for (int r = 0; r < rows; ++r) work(r);
        return;
    }
    std::vector<std::thread> threads;
    const int chunk = (rows + static_cast<int>(cores) - 1) / static_cast<int>(cores);
    int handedOut = std::min(rows, chunk);  // rows below this have a thread (or are ours)
    for (unsigned t = 1; t < cores; ++t) {
        const int begin = static_cast<int>(t) * chunk;
        const int end = std::min(rows, begin + chunk);
        if (begin >= end) break;
        // A thread that cannot be started (no memory for its stack) throws; its rows are then
        // done here, rather than leaving the started threads unjoined.
        try {
            threads.emplace_back([=, &work] {
                for (int r = begin; r < end; ++r) work(r);
            });
        } catch (const std::exception&) {
            break;
        }
        handedOut = end;
    }
    for (int r = 0; r < std::min(rows, chunk); ++r) work(r);
    for (int r = handedOut; r < rows; ++r) work(r);
    for (auto& t : threads) t.join();
}

}  // namespace spectrum::detail
