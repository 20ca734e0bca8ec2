#include "transformationtree/iterators/KaCPreorderWalkCache.h"

#include <atomic>
#include <limits>
#include <new>
#include <type_traits>

#include "transformationtree/nodes/KaCTransformationNodeInner.h"

static_assert(std::is_same_v<KaCPreorderWalkCache::ChildPosition,
                             KaCTransformationNode::KaNNodeIterator::ChildPosition>);

std::mutex KaCPreorderWalkCache::ms_mutex;

namespace {

// Indices are 32-bit; the largest value stays free as "one past the end" of a full tree.
constexpr uint64_t c_maxNodes = std::numeric_limits<uint32_t>::max() - 1;

// Whether a stale snapshot nothing holds is refilled. Not under ThreadSanitizer, which
// models no fences (GCC refuses them there): the snapshot is then allocated anew.
#if defined(__SANITIZE_THREAD__)
constexpr bool c_refillStale = false;
#else
constexpr bool c_refillStale = true;
#endif

bool hasChildren(const KaCTransformationNode& node) {
    return !node.IsLeaf() &&
           static_cast<const KaCTransformationNodeInner&>(node).GetNrChildren() != 0;
}

}  // namespace

uint32_t KaCPreorderWalkCache::IndexOf(const KaCTransformationNode& node) {
    return node.m_walkIndex.load(std::memory_order_relaxed);
}

uint32_t KaCPreorderWalkCache::LeavesBelow(uint32_t index) const {
    const uint32_t end = m_entries[index].end;
    const uint32_t leavesAtEnd = end < m_entries.size() ? m_entries[end].leavesBefore : m_leaves;
    return leavesAtEnd - m_entries[index].leavesBefore;
}

bool KaCPreorderWalkCache::Attach(KaCTransformationNode& root, uint64_t stepsTaken,
                                  Attachment& attachment) {
    if (root.IsLeaf()) {
        return false;
    }
    const uint64_t rootGeneration = root.GetWalkGeneration();
    std::lock_guard<std::mutex> lock(ms_mutex);

    // A current snapshot of `root`'s subtree or of an ancestor's (which holds `root`'s as a
    // range): read without touching any node outside `root`'s subtree but the fathers.
    std::shared_ptr<const KaCPreorderWalkCache> stale = root.m_walkCache;
    CbSmartPointer<KaCTransformationNodeInner> holder;  // keeps the ancestor read alive
    for (KaCTransformationNode* node = &root; node != nullptr;) {
        const std::shared_ptr<const KaCPreorderWalkCache>& cache = node->m_walkCache;
        if (cache && cache->m_generation == node->GetWalkGeneration()) {
            const uint32_t index = IndexOf(root);
            if (index < cache->Size() && cache->m_entries[index].node == &root) {
                attachment.cache = cache;
                attachment.rootIndex = index;
                attachment.rootGeneration = rootGeneration;
                return true;
            }
        }
        holder = node->GetFather();
        node = holder.Get();
    }

    // None: a snapshot of `root`'s subtree, which is all the walk may read, once the steps
    // over the nodes weigh enough against the size of the stale one.
    const uint64_t previousSize = stale ? stale->Size() : 0;
    uint64_t& steps = root.m_walkStepsWithoutCache;
    steps = stepsTaken <= UINT64_MAX - steps ? steps + stepsTaken : UINT64_MAX;
    if (steps < previousSize / 4) {
        return false;  // not yet worth a build: the walk goes on over the nodes
    }
    steps = 0;
    // The stale snapshot's memory is refilled when nothing else holds it (no walk can take
    // it without this mutex): no page is touched for the first time again. The fence pairs
    // with the release of the last other holder's reference.
    std::shared_ptr<KaCPreorderWalkCache> reuse;
    root.m_walkCache.reset();
    if (c_refillStale && stale && stale.use_count() == 1) {
#if !defined(__SANITIZE_THREAD__)
        std::atomic_thread_fence(std::memory_order_acquire);
#endif
        reuse = std::const_pointer_cast<KaCPreorderWalkCache>(std::move(stale));
    }
    stale.reset();
    std::shared_ptr<const KaCPreorderWalkCache> cache;
    try {
        cache = build(root, rootGeneration, static_cast<uint32_t>(previousSize), std::move(reuse));
    } catch (const std::bad_alloc&) {
        cache = nullptr;  // no room for a snapshot: walks use the nodes
    }
    root.m_walkCache = cache;
    if (!cache) {
        return false;
    }
    attachment.cache = std::move(cache);
    attachment.rootIndex = 0;
    attachment.rootGeneration = rootGeneration;
    return true;
}

std::shared_ptr<const KaCPreorderWalkCache> KaCPreorderWalkCache::build(
    KaCTransformationNode& top, uint64_t generation, uint32_t expectedSize,
    std::shared_ptr<KaCPreorderWalkCache> reuse) {
    std::shared_ptr<KaCPreorderWalkCache> cache =
        reuse ? std::move(reuse)
              : std::shared_ptr<KaCPreorderWalkCache>(new KaCPreorderWalkCache());
    cache->m_generation = generation;
    cache->m_leaves = 0;
    std::vector<Entry>& entries = cache->m_entries;
    std::vector<CbMatrix4Rd>& relative = cache->m_relative;
    entries.clear();
    relative.clear();
    entries.reserve(expectedSize);
    relative.reserve(expectedSize);

    // The open inner nodes: the next child to enter, the end of the child list, the index.
    struct Frame {
        ChildPosition next;
        ChildPosition end;
        uint32_t index;
    };
    std::vector<Frame> open;
    uint32_t leaves = 0;
    auto add = [&](KaCTransformationNode& node, ChildPosition position, uint32_t father,
                   uint32_t depth) {
        const auto index = static_cast<uint32_t>(entries.size());
        const bool leaf = node.IsLeaf();
        const bool children = hasChildren(node);
        entries.push_back({&node, position, father, index + 1, depth, leaves, leaf, children});
        relative.push_back(node.GetRelativeTrafo());
        node.m_walkIndex.store(index, std::memory_order_relaxed);
        leaves += leaf ? 1 : 0;
        if (!leaf && index != 0) {
            // The new snapshot holds this subtree: its own snapshot goes, so that
            // snapshots never nest.
            node.m_walkCache.reset();
        }
        if (children) {
            auto& inner = static_cast<KaCTransformationNodeInner&>(node);
            // The children are read next, one after the other: their node memory is
            // requested at once so that the misses overlap.
            for (const CbSmartPointer<KaCTransformationNode>& child : inner.GetChildren()) {
                const KaCTransformationNode* address = child.Get();
                __builtin_prefetch(address);
                __builtin_prefetch(&address->GetRelativeTrafo());
            }
            open.push_back({inner.BeginChild(), inner.EndChild(), index});
        }
    };
    add(top, ChildPosition(), 0, 0);
    while (!open.empty()) {
        Frame& frame = open.back();
        if (frame.next == frame.end) {
            entries[frame.index].end = static_cast<uint32_t>(entries.size());
            open.pop_back();
            continue;
        }
        if (entries.size() >= c_maxNodes) {
            return nullptr;
        }
        ChildPosition position = frame.next++;
        add(**position, position, frame.index, static_cast<uint32_t>(open.size()));
    }
    cache->m_leaves = leaves;
    return cache;
}
