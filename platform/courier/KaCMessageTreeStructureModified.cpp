#include "platform/courier/KaCMessageTreeStructureModified.h"

CB_DEFINE_RTTI(KaCMessageTreeStructureModified, &CyMessage::RTTI, nullptr, nullptr)
