#pragma once

#include "logging/CLogger.h"

// The named loggers the library writes its diagnostics through. They are static objects
// of the library, constructed when it is loaded.
class KaCTransformationTreeLoggers {
public:
    // "Diagnostics.Registration.TransformationNodeManager"
    static const Logging::CLogger& TransformationNodeManager();
    // "Diagnostics.Registration.TransformationNode"
    static const Logging::CLogger& TransformationNode();
};
