// Builds a small scan session the way a scanning application does, and saves it:
//   1. binds the node manager to the application's data manager and creates the root;
//   2. adds six synthetic scans as leaves, in two clusters, each placed by its pose;
//   3. walks the scans with their transformations into the root's frame;
//   4. builds a grid-subsampled model that stands for the whole session;
//   5. writes the session file and reads it back.
//
//   build_session [FILE]      (FILE defaults to example-session.ttree)
//
// Points are row vectors: a point p of a scan maps to p x M in its father's frame, the
// translation sits in the fourth row of M.

#include <cmath>
#include <cstdio>
#include <exception>
#include <string>

#include "logging/Logger.h"
#include "platform/harbor/CbStringConversion.h"
#include "platform/tidewell/KaCDataManager.h"
#include "transformationtree/TransformationTreeVersion.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/organisation/KaCSessionTransformationTree.h"
#include "transformationtree/organisation/KaCTransformationTreeUtility.h"
#include "transformationtree/persistence/KaCSessionFile.h"

namespace {

constexpr int c_scansPerCluster = 3;
constexpr float c_cellSize = 0.5f;  // grid of the session's subsampled model, in mm

// A synthetic scan: 20 x 20 surfels, 0.25 mm apart, on a bump 1 mm high, in the scanner's
// frame. A real application takes the surfels from its scanner.
CbSmartPointer<KaCModelCCT> makeScan(int number) {
    auto surfels =
        CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetBasic);
    for (int i = 0; i < 20; ++i) {
        for (int j = 0; j < 20; ++j) {
            KaCSurfel surfel;
            const float x = 0.25f * static_cast<float>(i) - 2.5f;
            const float y = 0.25f * static_cast<float>(j) - 2.5f;
            surfel.position = CbVector3f(x, y, std::exp(-(x * x + y * y) / 4.0f));
            surfels->AddSurfel(surfel);
        }
    }
    // The model shares the collection; `true` computes its bounding box.
    CbSmartPointer<KaCModelCCT> model = KaCModelCCT::Create(surfels, true);
    // A new leaf takes its description from the model's file name.
    model->SetFilename(L"scan-" + std::to_wstring(number));
    model->SetAcquireSequenceNumber(static_cast<uint64_t>(number));
    return model;
}

// One line per scan; example session_info prints the same lines for the saved session.
void printScan(KaCTransformationNodeWithTrafo& scan) {
    CbSmartPointer<KaCTransformationNodeLeaf> leaf = scan.GetLeafNode();
    const CbMatrix4Rd& toRoot = scan.GetTrafo();
    std::printf("scan %s \"%s\" %u surfels at (%.2f, %.2f, %.2f)\n",
                CbToUtf8(leaf->GetID().ToString()).c_str(),
                CbToUtf8(leaf->GetDescription()).c_str(),
                leaf->GetModel()
                    ->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)
                    ->GetNrSurfels(),
                toRoot(3, 0), toRoot(3, 1), toRoot(3, 2));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string file = argc > 1 ? argv[1] : "example-session.ttree";
    std::printf("transformation tree library %s\n", TT_VERSION_STRING);
    try {
        // 1. The tree is mirrored into the application's data manager, so that threads can
        // lock the parts they work on; this thread holds the whole tree for writing.
        KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
        KaCTransformationTreeUtility& utility = KaCTransformationTreeUtility::GetInstance();
        KaCDataManager& data = KaCDataManager::GetInstance();
        if (!manager.SetDataManager(data, data.GetRootNode())) {
            std::fprintf(stderr, "build_session: the node manager has another data manager\n");
            return 1;
        }
        CbSmartPointer<KaCTransformationNodeInner> root = manager.CreateRootNode();
        KaCTransformationNodeManager::WriteHandle access = manager.GetSingleWriteHandleLocked(root);

        // 2. Scans are organised in clusters (a new one starts when the scanner loses
        // track); each scan becomes a leaf of its cluster's collector, placed by its pose in
        // the cluster's frame. A cluster has a transformation of its own: moving it into
        // place (here: 8 mm along y for the second one) moves all of its scans.
        auto session = CbMakeShared<KaCSessionTransformationTree>(root);
        int number = 0;
        for (int c = 0; c < 2; ++c) {
            CbSmartPointer<KaCTransformationNodeInner> cluster = session->NewCluster(true);
            cluster->SetRelativeTrafo(CbMatrix4Rd::Translation(0.0, 8.0 * c, 0.0));
            CbSmartPointer<KaCTransformationNodeInner> collector =
                KaCTransformationTree::GetCollectorNode(cluster);
            for (int i = 0; i < c_scansPerCluster; ++i) {
                CbMatrix4Rd pose = CbMatrix4Rd::Translation(4.0 * i, 0.0, 0.0);
                utility.CreateLeaf(collector, makeScan(++number), &pose);
            }
            // A balanced subtree below the collector, at most two children per node. Every
            // scan keeps its place in space.
            utility.NormalizeTreeStructure(collector, 2, true);
        }

        // 3. A leaf walk yields each scan with its transformation into the frame of the
        // node the walk starts from: the product of the relative transformations on the way
        // (scan x collector x cluster here), so the second cluster's scans lie at y = 8.
        for (auto it = root->BeginLeaf(); it; ++it) {
            KaCTransformationNodeWithTrafo scan = *it;
            printScan(scan);
        }

        // 4. One model for the whole session: the scans' surfels in the root's frame,
        // thinned out to one representative surfel per occupied 0.5 mm cell.
        root->CreateModel(false, c_cellSize, 0.0f);
        std::printf("session model: %u surfels on a %.1f mm grid\n",
                    root->GetModel()
                        ->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)
                        ->GetNrSurfels(),
                    c_cellSize);

        // 5. The session file holds the whole tree (models and attributes included) and a
        // few text properties; writing is atomic, reading all or nothing.
        const uint64_t bytes =
            KaCSessionFile::Write(file, root, {{L"application", L"build_session example"}});
        const uint64_t scans = root->GetNrLeafNodes();
        KaCSessionFile::Contents loaded = KaCSessionFile::Read(file, false);
        const uint64_t scansRead = loaded.root->GetNrLeafNodes();
        std::printf("wrote %s: %llu bytes, %llu scans; read back %llu scans\n", file.c_str(),
                    static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(scans),
                    static_cast<unsigned long long>(scansRead));

        // Named loggers write through the logging back end when it is installed (levels
        // and output: NLOGC_LEVEL, NLOGC_FILE).
        static const Logging::CLogger logger(L"Example.BuildSession");
        Logging::LogInfo(logger, __FILE__, __LINE__, __func__, L"session written to %s",
                         CbFromUtf8(file).c_str());

        // Take the tree out of the data manager again before the program ends.
        manager.UnsetRootNode();
        access = KaCTransformationNodeManager::WriteHandle();
        static_cast<void>(manager.UnsetDataManager());  // refused only while a root is set
        return scansRead == scans ? 0 : 1;
    } catch (const std::exception& error) {
        // The library throws CbException (and kin), which derive from std::exception.
        std::fprintf(stderr, "build_session: %s\n", error.what());
        return 1;
    }
}
