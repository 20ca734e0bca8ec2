#include "transformationtree/nodevectors/KaCNodeVectorVelmar.h"

CB_DEFINE_RTTI(KaCNodeVectorVelmar, nullptr, &KaCNodeVectorVelmar::CreateByFactory,
               &KaCNodeVectorVelmar::CloneByFactory)

const char* const KaCNodeVectorVelmar::ms_sourceFile = __FILE__;
const int KaCNodeVectorVelmar::ms_sourceLine = __LINE__;
