#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/ModelBuildingData.h"
#include "tools/ttree/ParallelScanReader.h"
#include "tools/ttree/PlyFile.h"
#include "transformationtree/organisation/KaCBottomUpModelBuilder.h"

// How model building and import reading scale with threads, against the one-thread run in
// the same program. Wall-clock time (UseRealTime) is what counts for work on several
// threads; the CPU time of the whole process is reported beside it.
//
// Bottom-up model building (KaCBottomUpModelBuilder): session-like trees of arch scans
// (ModelBuildingData::MakeSessionTree, at most 4 children per node, 20,000 surfels a scan,
// grid cell 100 µm), small (1 cluster of 16 scans) and large (3 clusters of 48 scans), with
// the surfels of each scan in raster order or in a random order. The yardstick is the plain
// loop of CreateModel calls in bottom-up order that callers wrote before.
//
// The machine's own scaling at the moment of the run (BM_MachineParallelism) is the yardstick
// for the thread counts.
//
// Import reading (ParallelScanReader over PlyFile::Read): 48 scans of 20,000 surfels written
// as binary and as ASCII PLY files to a temporary folder, taken in input order; also with
// the yardstick run beside it in every iteration (BM_ImportReadAlternating).

namespace {

// What the machine gives this process at the moment: a fixed amount of arithmetic split
// over `threads` std::threads. On a shared machine the other processes' load caps the gain
// of any threaded code; read the ratios below against this one.
void machineWork(int threads) {
    constexpr int c_steps = 40000000;
    auto work = [](int steps) {
        double x = 0.0;
        for (int i = 0; i < steps; ++i) {
            x = x * 0.999999 + i;
        }
        benchmark::DoNotOptimize(x);
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) {
        pool.emplace_back(work, c_steps / threads);
    }
    work(c_steps / threads);
    for (std::thread& thread : pool) {
        thread.join();
    }
}

void BM_MachineParallelism(benchmark::State& state) {
    const auto threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        machineWork(threads);
    }
}

enum ETreeSize { eSmall = 0, eLarge = 1 };

const char* sizeName(int64_t size) {
    return size == eSmall ? "small tree" : "large tree";
}

// Built once per shape and kept: building the trees costs more than the benchmarks.
const CbSmartPointer<KaCTransformationNodeInner>& tree(int64_t size, bool unordered) {
    static std::map<std::pair<int64_t, bool>, CbSmartPointer<KaCTransformationNodeInner>> trees;
    auto& root = trees[{size, unordered}];
    if (!root) {
        root = size == eSmall ? ModelBuildingData::MakeSessionTree(1, 16, 4, 20000, unordered)
                              : ModelBuildingData::MakeSessionTree(3, 48, 4, 20000, unordered);
    }
    return root;
}

constexpr float c_cellSize = 0.1f;

void deleteModels(const std::vector<CbSmartPointer<KaCTransformationNodeInner>>& inner) {
    for (const auto& node : inner) {
        node->DeleteModel();
    }
}

// Arguments: threads, tree size, unordered (0 or 1).
void BM_BottomUp(benchmark::State& state) {
    const auto& root = tree(state.range(1), state.range(2) != 0);
    const auto inner = ModelBuildingData::InnerNodesBottomUp(root);
    KaCBottomUpModelBuilder::Options options;
    options.cellSize = c_cellSize;
    options.samplerParameter = 1.0f;
    options.threads = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        KaCBottomUpModelBuilder::Build(root, options);
        state.PauseTiming();
        deleteModels(inner);
        state.ResumeTiming();
    }
    state.SetLabel(std::string(sizeName(state.range(1))) +
                   (state.range(2) != 0 ? ", unordered" : ", raster order"));
    state.counters["threads"] = KaCBottomUpModelBuilder::GetThreadCount(options.threads);
    state.counters["inner_nodes"] = static_cast<double>(inner.size());
}

// The yardstick: CreateModel on each inner node in bottom-up order on this thread.
void BM_BottomUpPlainLoop(benchmark::State& state) {
    const auto& root = tree(state.range(0), state.range(1) != 0);
    const auto inner = ModelBuildingData::InnerNodesBottomUp(root);
    for (auto _ : state) {
        for (const auto& node : inner) {
            node->CreateModel(false, c_cellSize, 1.0f);
        }
        state.PauseTiming();
        deleteModels(inner);
        state.ResumeTiming();
    }
    state.SetLabel(std::string(sizeName(state.range(0))) +
                   (state.range(1) != 0 ? ", unordered" : ", raster order"));
}

std::vector<int64_t> threadCounts() {
    std::vector<int64_t> counts{1, 2};
    const auto cores = static_cast<int64_t>(std::max(1u, std::thread::hardware_concurrency()));
    if (cores > 2) {
        counts.push_back(cores);
    }
    return counts;
}

BENCHMARK(BM_MachineParallelism)
    ->ArgName("threads")
    ->Apply([](benchmark::internal::Benchmark* benchmark) {
        for (int64_t threads : threadCounts()) {
            benchmark->Arg(threads);
        }
    })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void bottomUpArguments(benchmark::internal::Benchmark* benchmark) {
    for (int64_t size : {eSmall, eLarge}) {
        for (int64_t unordered : {0, 1}) {
            for (int64_t threads : threadCounts()) {
                benchmark->Args({threads, size, unordered});
            }
        }
    }
}

BENCHMARK(BM_BottomUpPlainLoop)
    ->ArgNames({"size", "unordered"})
    ->Args({eSmall, 0})
    ->Args({eLarge, 0})
    ->Args({eLarge, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(BM_BottomUp)
    ->ArgNames({"threads", "size", "unordered"})
    ->Apply(bottomUpArguments)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// A folder of 48 PLY scans in one encoding, written once per process and removed at exit.
class ScanFolder {
public:
    explicit ScanFolder(PlyFile::EEncoding encoding) {
        m_folder = std::filesystem::temp_directory_path() /
                   ("tt-bench-scans-" + std::to_string(::getpid()) + "-" +
                    std::to_string(static_cast<int>(encoding)));
        std::filesystem::create_directories(m_folder);
        const auto scans = ModelBuildingData::MakeArchScans(48, 20000, 5);
        for (size_t i = 0; i < scans.size(); ++i) {
            const auto collection =
                scans[i].model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard);
            const std::vector<uint8_t> bytes = PlyFile::Encode(*collection, encoding);
            const auto file = m_folder / ("scan" + std::to_string(i) + ".ply");
            std::ofstream(file, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
            m_files.push_back(file);
            m_bytes += bytes.size();
        }
    }
    ~ScanFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    ScanFolder(const ScanFolder&) = delete;
    ScanFolder& operator=(const ScanFolder&) = delete;

    const std::vector<std::filesystem::path>& Files() const { return m_files; }
    uint64_t Bytes() const { return m_bytes; }

private:
    std::filesystem::path m_folder;
    std::vector<std::filesystem::path> m_files;
    uint64_t m_bytes = 0;
};

const ScanFolder& scanFolder(PlyFile::EEncoding encoding) {
    static const ScanFolder binary(PlyFile::eBinaryLittleEndian);
    static const ScanFolder ascii(PlyFile::eAscii);
    return encoding == PlyFile::eAscii ? ascii : binary;
}

// Reads every scan of `folder` with `threads` threads and takes them in input order, as
// `ttree import` does; returns the number of surfels read.
uint64_t readScans(const ScanFolder& folder, uint32_t threads) {
    const auto& files = folder.Files();
    ParallelScanReader reader(
        files.size(),
        [&](size_t i) {
            ParallelScanReader::Scan scan;
            scan.model = CCT_DepthImage::Create(PlyFile::Read(files[i]), true);
            return scan;
        },
        threads);
    uint64_t surfels = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        surfels += reader.Take()
                       .model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)
                       ->GetNrSurfels();
    }
    return surfels;
}

// Arguments: threads, encoding (0 ASCII, 1 binary little-endian).
void BM_ImportRead(benchmark::State& state) {
    const auto encoding = state.range(1) == 0 ? PlyFile::eAscii : PlyFile::eBinaryLittleEndian;
    const ScanFolder& folder = scanFolder(encoding);
    const auto threads = static_cast<uint32_t>(state.range(0));
    uint64_t surfels = 0;
    for (auto _ : state) {
        surfels += readScans(folder, threads);
    }
    state.SetItemsProcessed(static_cast<int64_t>(surfels));
    state.SetBytesProcessed(static_cast<int64_t>(folder.Bytes() * state.iterations()));
    state.SetLabel(encoding == PlyFile::eAscii ? "ascii" : "binary");
    state.counters["threads"] = KaCBottomUpModelBuilder::GetThreadCount(threads);
}

// The load of a shared machine changes within seconds, so a yardstick measured once at the
// start of the program says little about a benchmark that runs half a minute later. Each
// iteration here runs the yardstick and the import reading of one encoding on 1 and on 2
// threads back to back, so that a change of load hits all four alike; the counters are
// the milliseconds of each (per iteration) and the gains of 2 threads against 1. The
// iteration time is the sum of the four. Argument: encoding (0 ASCII, 1 binary).
void BM_ImportReadAlternating(benchmark::State& state) {
    const auto encoding = state.range(0) == 0 ? PlyFile::eAscii : PlyFile::eBinaryLittleEndian;
    const ScanFolder& folder = scanFolder(encoding);
    using Clock = std::chrono::steady_clock;
    auto timed = [](auto&& run) {
        const auto start = Clock::now();
        run();
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    double machine[2] = {0, 0}, import[2] = {0, 0};
    for (auto _ : state) {
        for (int threads : {1, 2}) {
            machine[threads - 1] += timed([&] { machineWork(threads); });
            import[threads - 1] += timed(
                [&] { benchmark::DoNotOptimize(readScans(folder, static_cast<uint32_t>(threads)));
        });
    }
}
const auto iterations = static_cast<double>(state.iterations());
state.counters["yardstick_1_ms"] = machine[0] / iterations;
state.counters["yardstick_2_ms"] = machine[1] / iterations;
state.counters["yardstick_gain"] = machine[0] / machine[1];
state.counters["import_1_ms"] = import[0] / iterations;
state.counters["import_2_ms"] = import[1] / iterations;
state.counters["import_gain"] = import[0] / import[1];
state.SetLabel(encoding == PlyFile::eAscii ? "ascii" : "binary");
}  // namespace

void importArguments(benchmark::internal::Benchmark* benchmark) {
    for (int64_t encoding : {0, 1}) {
        for (int64_t threads : threadCounts()) {
            benchmark->Args({threads, encoding});
        }
    }
}

BENCHMARK(BM_ImportRead)
    ->ArgNames({"threads", "binary"})
    ->Apply(importArguments)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(BM_ImportReadAlternating)
    ->ArgName("binary")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
