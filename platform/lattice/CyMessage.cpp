#include "platform/lattice/CyMessage.h"

CB_DEFINE_RTTI(CyMessage, nullptr, nullptr, nullptr)
