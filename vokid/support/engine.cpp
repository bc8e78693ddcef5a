#include "vokid/support/engine.h"

#include <cstdio>
#include <mutex>

namespace vokid {

namespace {

std::string describe(const char *operation, ResultCode code)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", code);
    return std::string("fingerprint engine failed to ") + operation + ": " + eng_result_text(code) +
           " (code " + hex + ")";
}

} // namespace

EngineError::EngineError(const char *operation, ResultCode code)
    : std::runtime_error(describe(operation, code)), result(code)
{
}

void startEngine()
{
    static std::once_flag started;
    std::call_once(started, [] {
        const EngineConfig config = {nullptr, 0, 0};
        checkEngine("start", eng_initialize(&config));
    });
}

void checkEngine(const char *operation, ResultCode code)
{
    if (code != ENG_OK)
        throw EngineError(operation, code);
}

} // namespace vokid
