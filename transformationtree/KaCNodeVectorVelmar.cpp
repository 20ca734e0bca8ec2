#include "transformationtree/KaCNodeVectorVelmar.h"

CB_DEFINE_RTTI(KaCNodeVectorVelmar, nullptr, &KaCNodeVectorVelmar::CreateByFactory,
               &KaCNodeVectorVelmar::CloneByFactory)

const char* const KaCNodeVectorVelmar::ms_sourceFile = __FILE__;
