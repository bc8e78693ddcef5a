// The fingerprint engine (libvok) as vokid reaches it: started once per
// process, its failures as exceptions, and the texts it hands out released
// by it.
#ifndef VOKID_SUPPORT_ENGINE_H
#define VOKID_SUPPORT_ENGINE_H

#include <stdexcept>
#include <string>

#include <vok/vok_engine.h>

namespace vokid {

class EngineError : public std::runtime_error {
public:
    EngineError(const char *operation, ResultCode code);
    ResultCode code() const { return result; }

private:
    ResultCode result;
};

// Starts the engine; safe to call from any thread, any number of times.
void startEngine();

// Throws EngineError when the engine's answer to an operation is a failure.
void checkEngine(const char *operation, ResultCode code);

// A text handed out by the engine, released by it.
class EngineText {
public:
    EngineText() = default;
    ~EngineText() { eng_free_text(&text); }
    EngineText(const EngineText &) = delete;
    EngineText &operator=(const EngineText &) = delete;

    char **out() { return &text; }
    std::string str() const { return text ? std::string(text) : std::string(); }

private:
    char *text = nullptr;
};

} // namespace vokid

#endif
