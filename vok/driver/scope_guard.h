// Runs an action when a scope is left, unless it was dismissed first: the
// cleanup that every failure of a step shares, written once.
#ifndef VOK_DRIVER_SCOPE_GUARD_H
#define VOK_DRIVER_SCOPE_GUARD_H

#include <utility>

namespace Zuvanti {

template <typename Action>
class ScopeGuard {
public:
    explicit ScopeGuard(Action cleanup) : action(std::move(cleanup)) {}
    ~ScopeGuard()
    {
        if (armed)
            action();
    }
    ScopeGuard(const ScopeGuard &) = delete;
    ScopeGuard &operator=(const ScopeGuard &) = delete;

    // The scope ended well: nothing to clean up.
    void Dismiss() { armed = false; }

private:
    Action action;
    bool armed = true;
};

} // namespace Zuvanti

#endif
