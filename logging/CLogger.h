#pragma once

#include <string>

namespace Logging {

// A named logger: a handle that carries its name and nothing else; the back end decides
// from the name and the level whether and where a line goes.
// Thread safety: immutable after construction, so it can be shared between threads.
// Throws: construction may throw std::bad_alloc; nothing else.
class CLogger {
public:
    explicit CLogger(std::wstring name);

    const wchar_t* GetName() const { return m_name.c_str(); }

    // The default logger, named "Global Static Logger", created while the logging library
    // is loaded; safe to call from other libraries' static initialisers.
    static const CLogger& GetGlobalStaticLogger();

private:
    std::wstring m_name;
};

}  // namespace Logging
