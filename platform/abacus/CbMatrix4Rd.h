#pragma once

#include "platform/abacus/CbMatrix4R.h"

// 4x4 matrix of doubles: relative transformations of nodes and their products.
using CbMatrix4Rd = CbMatrix4R<double>;

// The identity.
inline constexpr CbMatrix4Rd c_matIdentityD = CbMatrix4Rd::Identity();
