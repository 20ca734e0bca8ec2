#include "platform/courier/KaCMessageTransformationChanged.h"

CB_DEFINE_RTTI(KaCMessageTransformationChanged, &CyMessage::RTTI, nullptr, nullptr)
