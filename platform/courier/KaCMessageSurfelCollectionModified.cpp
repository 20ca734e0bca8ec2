#include "platform/courier/KaCMessageSurfelCollectionModified.h"

CB_DEFINE_RTTI(KaCMessageSurfelCollectionModified, &CyMessage::RTTI, nullptr, nullptr)
