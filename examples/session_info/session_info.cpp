// Prints what a session file holds, scan by scan: ID, description, number of surfels and
// the position of the scan's frame in the session's (the root's) frame, followed by the
// whole transformation.
//
//   session_info FILE
//
// Points are row vectors: a point p of a scan maps to p x M in the root's frame; the
// translation sits in the fourth row of M.

#include <cstdio>
#include <exception>

#include "platform/harbor/CbStringConversion.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"
#include "transformationtree/persistence/KaCSessionFile.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: session_info FILE\n");
        return 2;
    }
    try {
        // Only this thread looks at the tree, so it needs no data manager; `false` leaves
        // the nodes unregistered with the node manager.
        KaCSessionFile::Contents session = KaCSessionFile::Read(argv[1], false);
        std::printf("session %s\n", argv[1]);
        for (const auto& [key, value] : session.properties) {
            std::printf("property %s: %s\n", CbToUtf8(key).c_str(), CbToUtf8(value).c_str());
        }

        // A leaf walk from the root: every scan with its transformation into the root's
        // frame (its relative transformation x its father's x ... up to the root).
        unsigned long long scans = 0;
        for (auto it = session.root->BeginLeaf(); it; ++it, ++scans) {
            KaCTransformationNodeWithTrafo scan = *it;
            CbSmartPointer<KaCTransformationNodeLeaf> leaf = scan.GetLeafNode();
            CbSmartPointer<const KaCModelCCT> model = leaf->GetModel();
            CbSmartPointer<const KaCSurfelCollectionCCT> surfels =
                model ? model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)
                      : nullptr;
            const CbMatrix4Rd& toRoot = scan.GetTrafo();
            std::printf("scan %s \"%s\" %u surfels at (%.2f, %.2f, %.2f)\n",
                        CbToUtf8(leaf->GetID().ToString()).c_str(),
                        CbToUtf8(leaf->GetDescription()).c_str(),
                        surfels ? surfels->GetNrSurfels() : 0u, toRoot(3, 0), toRoot(3, 1),
                        toRoot(3, 2));
            for (size_t row = 0; row < 4; ++row) {
                std::printf("    %9.4f %9.4f %9.4f %9.4f\n", toRoot(row, 0), toRoot(row, 1),
                            toRoot(row, 2), toRoot(row, 3));
            }
        }
        std::printf("scans: %llu\n", scans);
        return 0;
    } catch (const std::exception& error) {
        // A missing, damaged or foreign file throws CbException naming the file and fault.
        std::fprintf(stderr, "session_info: %s\n", error.what());
        return 1;
    }
}
