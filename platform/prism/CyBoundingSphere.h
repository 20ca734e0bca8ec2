#pragma once

#include "platform/abacus/CbVector3f.h"

// A sphere by centre and radius.
struct CyBoundingSphere {
    CbVector3f center;
    float radius = 0.0f;

    bool Contains(const CbVector3f& point) const {
        CbVector3f d = point - center;
        return d.Dot(d) <= radius * radius;
    }
};
