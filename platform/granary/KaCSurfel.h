#pragma once

#include <cstdint>

#include "platform/abacus/CbVector3f.h"
#include "platform/granary/KaCCompressedColor.h"

// One surfel as a plain value, for adding, setting and reading single surfels of a
// container (containers store their surfels attribute by attribute). The defaults are the
// values a container reports for attributes it does not hold: normal +z, colour black,
// curvature 0, quality 1, tissue type 0, no boundary.
// A plain value; thread-safe as values are; nothing throws.
struct KaCSurfel {
    CbVector3f position;
    CbVector3f normal{0.0f, 0.0f, 1.0f};
    KaCCompressedColor color;
    uint8_t curvature = 0;
    float quality = 1.0f;
    uint8_t tissueType = 0;
    bool boundary = false;
};
