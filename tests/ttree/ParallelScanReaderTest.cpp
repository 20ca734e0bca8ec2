#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "tools/ttree/ParallelScanReader.h"
#include "tools/ttree/PlyFile.h"

namespace {

// Read functions that take a little while (more for some scans, so that reads finish out of
// order), count their calls per scan and fail for the scans in `bad`.
class FakeScans {
public:
    FakeScans(size_t count, std::set<size_t> bad)
        : m_count(count), m_bad(std::move(bad)), m_calls(new std::atomic<int>[count]) {
        for (size_t i = 0; i < count; ++i) {
            m_calls[i].store(0);
        }
    }

    ParallelScanReader::Scan Read(size_t index) {
        m_calls[index].fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(index % 3 == 0 ? 900 : 100));
        if (m_bad.count(index) != 0) {
            CB_THROW(CbException, "scan " + std::to_string(index) + " is bad");
        }
        auto collection =
            CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull);
        KaCSurfel surfel;
        surfel.position = {static_cast<float>(index), 0.0f, 0.0f};
        collection->AddSurfel(surfel);
        ParallelScanReader::Scan scan;
        scan.model = CCT_DepthImage::Create(collection, true);
        scan.model->SetAcquireSequenceNumber(index);
        scan.dropped = index * 10;
        return scan;
    }

    int Calls(size_t index) const { return m_calls[index].load(); }
    ParallelScanReader::ReadFunction Function() {
        return [this](size_t index) { return Read(index); };
    }

private:
    size_t m_count;
    std::set<size_t> m_bad;
    std::unique_ptr<std::atomic<int>[]> m_calls;
};

}  // namespace

// Scans come out in input order on any number of threads, each read exactly once; taking
// more than there are is refused.
TEST(ParallelScanReader, TakesEveryScanInInputOrderReadOnce) {
    for (uint32_t threads : {1u, 2u, 4u, 8u, 0u}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        FakeScans scans(40, {});
        {
            ParallelScanReader reader(40, scans.Function(), threads);
            for (size_t i = 0; i < 40; ++i) {
                ParallelScanReader::Scan scan = reader.Take();
                ASSERT_TRUE(scan.model);
                EXPECT_EQ(scan.model->GetAcquireSequenceNumber(), i);
                EXPECT_EQ(scan.dropped, i * 10);
            }
            EXPECT_THROW(reader.Take(), CbException);
        }
        for (size_t i = 0; i < 40; ++i) {
            EXPECT_EQ(scans.Calls(i), 1) << "scan " << i;
        }
    }
}

// With bad scans, Take rethrows at the first bad one in input order, whichever failed
// first in time; the scans before it come out intact and none is read twice.
TEST(ParallelScanReader, TheFirstBadScanInInputOrderIsReported) {
    std::mt19937 random(5);
    for (int round = 0; round < 12; ++round) {
        std::uniform_int_distribution<size_t> pick(0, 59);
        std::set<size_t> bad{pick(random), pick(random)};
        const size_t first = *bad.begin();
        for (uint32_t threads : {1u, 2u, 4u}) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", first bad scan " << first
                                            << ", " << threads << " threads");
            FakeScans scans(60, bad);
            {
                ParallelScanReader reader(60, scans.Function(), threads);
                for (size_t i = 0; i < first; ++i) {
                    ASSERT_EQ(reader.Take().model->GetAcquireSequenceNumber(), i);
                }
                try {
                    reader.Take();
                    ADD_FAILURE() << "no exception";
                } catch (const CbException& e) {
                    EXPECT_NE(std::string(e.what()).find("scan " + std::to_string(first) + " "),
                              std::string::npos)
                        << e.what();
                }
            }
            for (size_t i = 0; i < 60; ++i) {
                EXPECT_LE(scans.Calls(i), 1) << "scan " << i;
                if (i <= first) {
                    EXPECT_EQ(scans.Calls(i), 1) << "scan " << i;
                }
            }
        }
    }
}

// A reader given up part way (as when building the session fails) stops claiming scans and
// waits for its helpers: the read function, and what it uses, may go right after.
TEST(ParallelScanReader, AReaderGivenUpPartWayStopsAndWaits) {
    for (uint32_t threads : {2u, 4u}) {
        auto scans = std::make_unique<FakeScans>(400, std::set<size_t>{});
        {
            ParallelScanReader reader(400, scans->Function(), threads);
            for (size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(reader.Take().model->GetAcquireSequenceNumber(), i);
            }
        }
        int read = 0;
        for (size_t i = 0; i < 400; ++i) {
            read += scans->Calls(i);
        }
        EXPECT_LT(read, 400) << threads << " threads";
        scans.reset();  // a helper still running would use it after this
    }
}

// PLY files read on one thread and on several (each thread decoding its own files at the
// same time) give the same surfel records byte for byte, in every encoding, also when
// vertices are left out.
TEST(ParallelScanReader, PlyScansReadTheSameOnAnyNumberOfThreads) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("tt-scan-reader-ply-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::mt19937 random(11);
    std::uniform_real_distribution<float> coordinate(-50.0f, 50.0f), unit(-1.0f, 1.0f);
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 18; ++i) {
        KaCSurfelCollectionCCT surfels(KaCSurfelContainer::eSurfelAttributeSetFull);
        for (int s = 0; s < 500 + 137 * i; ++s) {
            KaCSurfel surfel;
            surfel.position = {coordinate(random), coordinate(random), coordinate(random)};
            if (s % 97 == 5) {
                surfel.position.y = std::numeric_limits<float>::infinity();
            }
            surfel.normal = {unit(random), unit(random), unit(random)};
            surfel.color = {static_cast<uint8_t>(s), static_cast<uint8_t>(i), 200};
            surfel.quality = unit(random);
            surfels.AddSurfel(surfel);
        }
        const auto encoding = static_cast<PlyFile::EEncoding>(i % 3);
        const std::vector<uint8_t> bytes = PlyFile::Encode(surfels, encoding);
        files.push_back(folder / ("scan" + std::to_string(i) + ".ply"));
        std::ofstream(files.back(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    auto readAll = [&](uint32_t threads) {
        ParallelScanReader reader(
            files.size(),
            [&](size_t i) {
                ParallelScanReader::Scan scan;
                scan.model = CCT_DepthImage::Create(
                    PlyFile::Read(files[i], PlyFile::eDropInvalid, &scan.dropped), true);
                return scan;
            },
            threads);
        std::vector<std::pair<std::vector<uint8_t>, uint64_t>> records;
        for (size_t i = 0; i < files.size(); ++i) {
            ParallelScanReader::Scan scan = reader.Take();
            CbStreamWriteBinaryBuffer stream;
            scan.model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)
                ->Serialize(stream);
            records.emplace_back(stream.TakeBuffer(), scan.dropped);
        }
        return records;
    };
    const auto one = readAll(1);
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(one[i].second, (500 + 137 * i + 91) / 97) << "scan " << i;
    }
    for (uint32_t threads : {2u, 4u}) {
        for (int round = 0; round < 3; ++round) {
            EXPECT_TRUE(readAll(threads) == one) << threads << " threads, round " << round;
        }
    }
    std::filesystem::remove_all(folder);
}
