#pragma once

#include <string>

namespace Debugging {

// Appends the current call stack to `text`: up to `depth` frames, starting with the caller
// of GetCallStack, one per line ("  #1 function (module)"). Costs a stack walk and symbol
// look-ups: call it only when the text will be used.
void GetCallStack(std::wstring& text, int depth);

}  // namespace Debugging
