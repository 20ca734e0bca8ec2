#include "transformationtree/manager/KaCTransformationTreeLoggers.h"

namespace {
const Logging::CLogger g_transformationNodeManager(
    L"Diagnostics.Registration.TransformationNodeManager");
const Logging::CLogger g_transformationNode(L"Diagnostics.Registration.TransformationNode");
}  // namespace

const Logging::CLogger& KaCTransformationTreeLoggers::TransformationNodeManager() {
    return g_transformationNodeManager;
}

const Logging::CLogger& KaCTransformationTreeLoggers::TransformationNode() {
    return g_transformationNode;
}
