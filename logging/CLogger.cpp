#include "logging/CLogger.h"

#include <utility>

namespace Logging {

CLogger::CLogger(std::wstring name) : m_name(std::move(name)) {}

const CLogger& CLogger::GetGlobalStaticLogger() {
    static const CLogger ms_globalStaticLogger(L"Global Static Logger");
    return ms_globalStaticLogger;
}

namespace {

[[maybe_unused]] const CLogger& ms_globalStaticLoggerCreatedAtLoad =
    CLogger::GetGlobalStaticLogger();

}  // namespace

}  // namespace Logging
