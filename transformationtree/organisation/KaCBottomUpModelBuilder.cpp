#include "transformationtree/organisation/KaCBottomUpModelBuilder.h"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

// ThreadSanitizer does not see the synchronisation inside the oneTBB library (it is not
// instrumented) and would report every hand-over between its threads as a race; such
// builds schedule on std::threads, whose hand-overs it sees.
#if defined(__SANITIZE_THREAD__)
#define TT_BOTTOM_UP_STD_THREADS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TT_BOTTOM_UP_STD_THREADS 1
#endif
#endif

#ifndef TT_BOTTOM_UP_STD_THREADS
#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>
#endif

namespace {

constexpr size_t c_none = std::numeric_limits<size_t>::max();

// The inner nodes of the subtree in the one-thread order (post-order), with each node's
// father's position, and the positions of the nodes without inner children (in order):
// where the builds start.
struct Plan {
    std::vector<CbSmartPointer<KaCTransformationNodeInner>> nodes;
    std::vector<size_t> father;
    std::vector<uint32_t> innerChildren;
    std::vector<size_t> bottom;
};

// Walks with an explicit stack, so that a deep subtree cannot overflow the thread's stack.
Plan makePlan(const CbSmartPointer<KaCTransformationNodeInner>& top) {
    struct Frame {
        KaCTransformationNodeInner* node;
        size_t next;                        // the next child to look at
        std::vector<size_t> innerChildren;  // positions of the inner children placed
    };
    Plan plan;
    std::vector<Frame> stack;
    stack.push_back({top.Get(), 0, {}});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const KaCTransformationNodeInner::ChildList& children = frame.node->GetChildren();
        while (frame.next < children.size() && children[frame.next]->IsLeaf()) {
            ++frame.next;
        }
        if (frame.next < children.size()) {
            auto* child = static_cast<KaCTransformationNodeInner*>(children[frame.next++].Get());
            stack.push_back({child, 0, {}});  // `frame` is not used after this
            continue;
        }
        const size_t position = plan.nodes.size();
        plan.nodes.emplace_back(frame.node);
        plan.father.push_back(c_none);
        plan.innerChildren.push_back(static_cast<uint32_t>(frame.innerChildren.size()));
        for (size_t child : frame.innerChildren) {
            plan.father[child] = position;
        }
        if (frame.innerChildren.empty()) {
            plan.bottom.push_back(position);
        }
        stack.pop_back();
        if (!stack.empty()) {
            stack.back().innerChildren.push_back(position);
        }
    }
    return plan;
}

// One build on several threads. Each start node (one without inner children) is taken by
// one thread, which builds it and climbs: the thread that finishes the last inner child of
// a father goes on with the father (the count of unfinished children is an acquire-release
// counter, so that thread sees every child's model). No thread ever waits for another.
class ParallelRun {
public:
    ParallelRun(const Plan& plan, const KaCBottomUpModelBuilder::Options& options)
        : m_plan(plan)
        , m_options(options)
        , m_unfinishedChildren(new std::atomic<uint32_t>[plan.nodes.size()])
        , m_built(plan.nodes.size(), 0)
        , m_oldModels(plan.nodes.size())
        , m_oldStamps(plan.nodes.size(), -1)
        , m_errors(plan.nodes.size()) {
        for (size_t i = 0; i < plan.nodes.size(); ++i) {
            m_unfinishedChildren[i].store(plan.innerChildren[i], std::memory_order_relaxed);
        }
    }

    // Builds start node `position` and every father it completes. Never throws.
    void BuildFrom(size_t position) noexcept {
        for (size_t p = position;;) {
            buildNode(p);
            const size_t father = m_plan.father[p];
            if (father == c_none ||
                m_unfinishedChildren[father].fetch_sub(1, std::memory_order_acq_rel) != 1) {
                return;
            }
            p = father;
        }
    }

    // After every thread is done: puts back the old models of the nodes the one-thread run
    // would not have reached, and rethrows the first failure in the one-thread order.
    void Finish() {
        const size_t failure = m_firstFailure.load(std::memory_order_acquire);
        if (failure == c_none) {
            return;
        }
        for (size_t p = failure + 1; p < m_plan.nodes.size(); ++p) {
            if (m_built[p] != 0) {
                m_plan.nodes[p]->SetModel(std::move(m_oldModels[p]), m_oldStamps[p]);
            }
        }
        std::rethrow_exception(m_errors[failure]);
    }

private:
    void buildNode(size_t p) noexcept {
        // Past a failure the one-thread run stops: a node after it would only be put back.
        if (p > m_firstFailure.load(std::memory_order_acquire)) {
            return;
        }
        KaCTransformationNodeInner& node = *m_plan.nodes[p];
        m_oldModels[p] = node.GetModel();
        m_oldStamps[p] = node.GetModelRevision();
        try {
            node.CreateModel(m_options.useCollectionType4, m_options.cellSize,
                             m_options.samplerParameter);
            m_built[p] = 1;
        } catch (...) {
            m_errors[p] = std::current_exception();
            size_t first = m_firstFailure.load(std::memory_order_relaxed);
            while (p < first &&
                   !m_firstFailure.compare_exchange_weak(first, p, std::memory_order_acq_rel,
                                                         std::memory_order_relaxed)) {
            }
        }
    }

    const Plan& m_plan;
    const KaCBottomUpModelBuilder::Options& m_options;
    std::unique_ptr<std::atomic<uint32_t>[]> m_unfinishedChildren;
    // Entry p is written only by the thread that builds node p, and read after every
    // thread has finished.
    std::vector<char> m_built;
    std::vector<CbSmartPointer<const KaCModelCCT>> m_oldModels;
    std::vector<int64_t> m_oldStamps;
    std::vector<std::exception_ptr> m_errors;
    std::atomic<size_t> m_firstFailure{c_none};
};

#ifdef TT_BOTTOM_UP_STD_THREADS

uint32_t threadLimit() {
    return std::max(1u, std::thread::hardware_concurrency());
}

void runThreads(ParallelRun& run, const std::vector<size_t>& starts, uint32_t threads) {
    // The threads compute with the calling thread's floating-point settings.
    std::fenv_t environment;
    std::fegetenv(&environment);
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < starts.size();) {
            run.BuildFrom(starts[i]);
        }
    };
    std::vector<std::thread> pool;
    for (uint32_t t = 1; t < threads; ++t) {
        try {
            pool.emplace_back([&] {
                std::fesetenv(&environment);
                work();
            });
        } catch (const std::system_error&) {
            break;  // fewer threads do the same work
        }
    }
    work();
    for (std::thread& thread : pool) {
        thread.join();
    }
}

#else

uint32_t threadLimit() {
    return static_cast<uint32_t>(std::max<size_t>(
        1, tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism)));
}

// An arena of `threads` threads, made on first use and kept for the process: a worker
// needs a while to find a new arena, longer than many builds take.
tbb::task_arena& arenaOf(uint32_t threads) {
    static std::mutex mutex;
    static auto* arenas = new std::map<uint32_t, std::unique_ptr<tbb::task_arena>>();
    std::lock_guard<std::mutex> lock(mutex);
    std::unique_ptr<tbb::task_arena>& arena = (*arenas)[threads];
    if (!arena) {
        arena = std::make_unique<tbb::task_arena>(static_cast<int>(threads));
    }
    return *arena;
}

void runThreads(ParallelRun& run, const std::vector<size_t>& starts, uint32_t threads,
                bool ownArena) {
    // Tasks run with the floating-point settings captured here, on the calling thread.
    tbb::task_group_context context(
        tbb::task_group_context::bound,
        tbb::task_group_context::default_traits | tbb::task_group_context::fp_settings);
    context.capture_fp_settings();
    auto body = [&] {
        tbb::parallel_for(
            tbb::blocked_range<size_t>(0, starts.size(), 1),
            [&](const tbb::blocked_range<size_t>& range) {
                for (size_t i = range.begin(); i != range.end(); ++i) {
                    run.BuildFrom(starts[i]);
                }
            },
            tbb::simple_partitioner(), context);
    };
    if (ownArena) {
        arenaOf(threads).execute(body);
    } else {
        body();
    }
}

#endif

}  // namespace

uint32_t KaCBottomUpModelBuilder::GetThreadCount(uint32_t threads) {
    const uint32_t limit = threadLimit();
#ifdef TT_BOTTOM_UP_STD_THREADS
    return threads == 0 ? limit : threads;
#else
    if (threads == 0) {
        const auto arena =
            static_cast<uint32_t>(std::max(1, tbb::this_task_arena::max_concurrency()));
        return std::min(arena, limit);
    }
    return std::min(threads, limit);
#endif
}

void KaCBottomUpModelBuilder::Build(const CbSmartPointer<KaCTransformationNodeInner>& top,
                                    const Options& options) {
    if (!top) {
        return;
    }
    const Plan plan = makePlan(top);
    // More threads than start nodes have nothing to do.
    const auto threads = static_cast<uint32_t>(
        std::min<size_t>(GetThreadCount(options.threads), plan.bottom.size()));
    if (threads <= 1) {
        // The one-thread run: the first exception leaves the later nodes as they are.
        for (const CbSmartPointer<KaCTransformationNodeInner>& node : plan.nodes) {
            node->CreateModel(options.useCollectionType4, options.cellSize,
                              options.samplerParameter);
        }
        return;
    }
    ParallelRun run(plan, options);
#ifdef TT_BOTTOM_UP_STD_THREADS
    runThreads(run, plan.bottom, threads);
#else
    // The calling thread's arena unless the caller asked for fewer threads than it has.
    const bool ownArena =
        options.threads != 0 && options.threads < static_cast<uint32_t>(std::max(
                                                      1, tbb::this_task_arena::max_concurrency()));
    runThreads(run, plan.bottom, threads, ownArena);
#endif
    run.Finish();
}
