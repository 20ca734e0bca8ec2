#pragma once

#include "platform/lattice/CyDataHandleBase.h"

// A handle for read (Access 0) or write (Access 1) access to a node; see CyDataHandleBase.
// Default construction gives an empty handle that refers to no node.
template <int Access>
class CyDataHandleLockOnly : public CyDataHandleBase {
    static_assert(Access == 0 || Access == 1, "0 read, 1 write");

public:
    CyDataHandleLockOnly() = default;
    // A request of the calling thread for the access to `node` in `manager`.
    CyDataHandleLockOnly(CyDataManager& manager, CbSmartPointer<CyNode> node)
        : CyDataHandleBase(manager, std::move(node), Access == 0 ? eRead : eWrite) {}
};
