#include "tools/ttree/ParallelScanReader.h"

#include <map>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/harbor/CbException.h"
#include "transformationtree/organisation/KaCBottomUpModelBuilder.h"

// As in KaCBottomUpModelBuilder: ThreadSanitizer cannot see oneTBB's own synchronisation.
#if defined(__SANITIZE_THREAD__)
#define TT_SCAN_READER_STD_THREADS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TT_SCAN_READER_STD_THREADS 1
#endif
#endif

#ifndef TT_SCAN_READER_STD_THREADS
#include <tbb/task_arena.h>
#include <tbb/task_group.h>
#endif

struct ParallelScanReader::Slot {
    bool done = false;
    Scan scan;
    std::exception_ptr error;
};

#ifdef TT_SCAN_READER_STD_THREADS

class ParallelScanReader::Helpers {
public:
    Helpers(ParallelScanReader& reader, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            {
                std::lock_guard<std::mutex> lock(reader.m_mutex);
                ++reader.m_runningHelpers;
            }
            try {
                m_threads.emplace_back([&reader] { reader.helperLoop(); });
            } catch (const std::system_error&) {
                std::lock_guard<std::mutex> lock(reader.m_mutex);
                --reader.m_runningHelpers;
                break;  // fewer helpers read the same scans
            }
        }
    }
    void Wait() {
        for (std::thread& thread : m_threads) {
            thread.join();
        }
        m_threads.clear();
    }

private:
    std::vector<std::thread> m_threads;
};

#else

namespace {

// An arena with `helpers` worker slots (and the usual slot for a calling thread, which never
// joins it), made on first use and kept for the process: a oneTBB worker needs a while to
// find a new arena, as long as reading a few binary scans takes.
tbb::task_arena& arenaFor(uint32_t helpers) {
    static std::mutex mutex;
    static auto* arenas = new std::map<uint32_t, std::unique_ptr<tbb::task_arena>>();
    std::lock_guard<std::mutex> lock(mutex);
    std::unique_ptr<tbb::task_arena>& arena = (*arenas)[helpers];
    if (!arena) {
        arena = std::make_unique<tbb::task_arena>(static_cast<int>(helpers) + 1);
    }
    return *arena;
}

}  // namespace

// The helper loops are tasks enqueued into an arena; each counts itself off when it ends.
// A loop never waits for anything, so fewer workers than loops still finish.
class ParallelScanReader::Helpers {
public:
    Helpers(ParallelScanReader& reader, uint32_t count) {
        tbb::task_arena& arena = arenaFor(count);
        for (uint32_t i = 0; i < count; ++i) {
            {
                std::lock_guard<std::mutex> lock(reader.m_mutex);
                ++reader.m_runningHelpers;
            }
            arena.enqueue([&reader] { reader.helperLoop(); });
        }
    }
    void Wait() {}  // the reader waits for its count of running helpers
};

#endif

ParallelScanReader::ParallelScanReader(size_t count, ReadFunction read, uint32_t threads)
    : m_count(count), m_read(std::move(read)), m_firstFailure(count) {
    m_slots.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        m_slots.push_back(std::make_unique<Slot>());
    }
    const uint32_t helpers = KaCBottomUpModelBuilder::GetThreadCount(threads) - 1;
    if (helpers > 0 && count > 1) {
        m_helpers = std::make_unique<Helpers>(*this, helpers);
    }
}

ParallelScanReader::~ParallelScanReader() {
    if (m_helpers) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_stopping = true;
            m_done.wait(lock, [&] { return m_runningHelpers == 0; });
        }
        m_helpers->Wait();
    }
}

bool ParallelScanReader::readNext() {
    size_t index;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Nothing after a known failure is needed: the run stops there.
        if (m_stopping || m_nextClaim >= m_count || m_nextClaim > m_firstFailure) {
            return false;
        }
        index = m_nextClaim++;
    }
    Scan scan;
    std::exception_ptr error;
    try {
        scan = m_read(index);
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Slot& slot = *m_slots[index];
        slot.scan = std::move(scan);
        slot.error = error;
        slot.done = true;
        if (error && index < m_firstFailure) {
            m_firstFailure = index;
        }
    }
    m_done.notify_all();
    return true;
}

void ParallelScanReader::helperLoop() {
    while (readNext()) {
    }
    // Notified under the lock: once it is released, the reader may be gone.
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_runningHelpers;
    m_done.notify_all();
}

ParallelScanReader::Scan ParallelScanReader::Take() {
    if (m_nextTake >= m_count) {
        CB_THROW(CbException, "ParallelScanReader: every scan was taken");
    }
    const size_t index = m_nextTake;
    Slot& slot = *m_slots[index];
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (slot.done) {
                break;
            }
            if (m_nextClaim > index && m_nextClaim >= m_count) {
                // Claimed elsewhere and nothing left to read ahead: wait for it.
                m_done.wait(lock, [&] { return slot.done; });
                break;
            }
        }
        // Unclaimed (this reads it) or claimed elsewhere (this reads ahead meanwhile).
        if (!readNext()) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_done.wait(lock, [&] { return slot.done; });
            break;
        }
    }
    ++m_nextTake;
    Scan scan;
    std::exception_ptr error;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        scan = std::move(slot.scan);
        error = slot.error;
        slot.error = nullptr;
    }
    if (error) {
        std::rethrow_exception(error);
    }
    return scan;
}
