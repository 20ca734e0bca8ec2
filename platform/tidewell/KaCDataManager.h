#pragma once

#include "platform/lattice/CyDataManager.h"

// The application's data manager: one per process, created on first use and never
// destroyed, so that everything bound to it during the process's life (the node manager's
// mirror above all) can still use it while the process exits.
class KaCDataManager : public CyDataManager {
public:
    static KaCDataManager& GetInstance();

private:
    KaCDataManager() = default;
    ~KaCDataManager() override = default;
};
