#include "transformationtree/nodevectors/KaCNodeVector.h"

CB_DEFINE_RTTI(KaCNodeVector, nullptr, &KaCNodeVector::CreateByFactory,
               &KaCNodeVector::CloneByFactory)

const char* const KaCNodeVector::ms_sourceFile = __FILE__;
const int KaCNodeVector::ms_sourceLine = __LINE__;
