#include "platform/granary/CySurfelCollectionBase.h"

CB_DEFINE_RTTI(CySurfelCollectionBase, nullptr, nullptr, nullptr)
