#include "platform/tidewell/KaCDataManager.h"

KaCDataManager& KaCDataManager::GetInstance() {
    // Deliberately never destroyed (see the class comment); function-local statics are
    // created once even under concurrent first calls.
    static KaCDataManager* instance = new KaCDataManager();
    return *instance;
}
