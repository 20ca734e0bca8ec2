#pragma once

#include "platform/abacus/CbMatrix4R.h"

// 4x4 matrix of floats: transformations applied to surfels and bounding boxes.
using CbMatrix4Rf = CbMatrix4R<float>;

inline constexpr CbMatrix4Rf c_matIdentityF = CbMatrix4Rf::Identity();
