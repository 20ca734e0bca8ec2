#pragma once

#include <cstdint>
#include <vector>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/harbor/CbSmartPointer.h"
#include "transformationtree/nodevectors/KaCNodeAccelerated.h"

class CbStreamWriteBinary;
class CbStreamReadBinary;

// The one implementation behind both node vector classes: filling from a subtree,
// sorting by acquisition order, and the stream format.
//
// Stream format: version 2 (version number), an unsigned 32-bit element count, then per
// element a node reference, the trafo (version 1 + 16 doubles), the number m of cached
// revisions (always 2) and m signed 64-bit revisions. Version 1 elements carry only the
// node reference and the trafo. Node references resolve through the node serialization ID
// mapper; model and collection are derived again from the nodes.
class KaCNodeVectorOperations {
public:
    using Elements = std::vector<KaCNodeAccelerated>;

    // The iterator types: 0 leaves, 1 cached leaves, 2 all nodes; others append nothing.
    static void AppendInnerNode(Elements& elements,
                                CbSmartPointer<const KaCTransformationNode> node, int type,
                                const CbMatrix4Rd& trafo, unsigned int flags);
    // Acquisition order: by the sequence number of the node's current model (nodes without
    // model last), ties by node ID. Elements without node go after all others.
    static void SortBySequenceNumber(Elements& elements);

    static void Write(const Elements& elements, CbStreamWriteBinary& stream);
    // Throws CbExceptionWrongFileVersion (naming `sourceFile`) for an unknown version,
    // leaving `elements` unchanged; CbException for corrupt bytes.
    static void Read(Elements& elements, CbStreamReadBinary& stream, const char* sourceFile,
                     int sourceLine);
};
