#pragma once

#include "platform/granary/KaCModelCCT.h"
#include "platform/harbor/CbSmartPointer.h"

// What a Python Model object holds: a strong reference to a node's model. Models are never
// changed once a node holds them (a node that gets a new model drops the old one), so the
// model's surfels stay as they are for as long as the object, or any array viewing them,
// exists.
struct ModelHandle {
    CbSmartPointer<const KaCModelCCT> model;
};
