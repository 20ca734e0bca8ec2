#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/granary/CCT_DepthImage.h"

// Reads the scans of an import on several threads while the calling thread takes them in
// input order, so that the session is built on the calling thread (which holds the data
// manager's access) in exactly the order of a one-thread run.
//
// Scans are claimed in input order, by the helper threads and by the calling thread: Take
// reads the wanted scan itself when nobody has claimed it yet, and reads ahead instead of
// waiting while the wanted one is still being read elsewhere. A scan whose read throws is
// rethrown by Take when its turn comes, so the first bad scan in input order is the one
// reported, as in a one-thread run; no scan after it is claimed once its failure is known.
// Everything the calling thread prints about a scan (after Take) thus comes in input order.
//
// Threads: `threads` as for KaCBottomUpModelBuilder (0: all cores; 1: the calling thread
// alone). The helpers are oneTBB tasks in an arena of their own (std::threads in builds
// with ThreadSanitizer, which cannot see oneTBB's synchronisation). The read function must
// be safe to call concurrently (PlyFile::Read is). Not thread-safe itself: one calling
// thread.
class ParallelScanReader {
public:
    struct Scan {
        CbSmartPointer<CCT_DepthImage> model;
        uint64_t dropped = 0;  // vertices left out
    };
    using ReadFunction = std::function<Scan(size_t index)>;

    ParallelScanReader(size_t count, ReadFunction read, uint32_t threads);
    // Stops claiming scans and waits for the helpers.
    ~ParallelScanReader();
    ParallelScanReader(const ParallelScanReader&) = delete;
    ParallelScanReader& operator=(const ParallelScanReader&) = delete;

    // The next scan in input order (the first call gives scan 0); rethrows what reading it
    // threw. Throws CbException when every scan was taken.
    Scan Take();

private:
    struct Slot;
    class Helpers;

    // Claims the next unclaimed scan and reads it; false when none is left to claim.
    bool readNext();
    void helperLoop();

    const size_t m_count;
    const ReadFunction m_read;
    std::mutex m_mutex;
    std::condition_variable m_done;
    // Guarded by m_mutex:
    std::vector<std::unique_ptr<Slot>> m_slots;
    size_t m_nextClaim = 0;
    size_t m_firstFailure;  // the lowest index whose read threw, or m_count
    bool m_stopping = false;
    uint32_t m_runningHelpers = 0;
    size_t m_nextTake = 0;  // only the calling thread
    std::unique_ptr<Helpers> m_helpers;
};
