#pragma once

#include <cstdint>

// Where a log line comes from: the source file, the line in it and the qualified name of
// the function ("KaCTransformationNodeManager::Lock"). Passed by address with every line
// to the back end, whose C interface shares this layout, so it stays a plain aggregate.
struct SourceLocation {
    const char* file;
    int32_t line;
    const char* function;
};
