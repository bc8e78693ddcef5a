#include "vokid/index/fault_guard.h"

#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace vokid {

namespace {

thread_local fault_guard::Scope *innermost = nullptr;
thread_local char faultText[320];

struct sigaction segvBefore;
struct sigaction busBefore;

// The handler needs a few hundred bytes; a sanitizer's report, when a
// fault outside every guard is passed on to it, some kilobytes.
constexpr size_t kAltStackBytes = 64 * 1024;

// This thread's alternate signal stack, where it has none of its own (a
// sanitizer gives each thread one), released with the thread.
class AltStack {
public:
    AltStack() = default;
    AltStack(const AltStack &) = delete;
    AltStack &operator=(const AltStack &) = delete;
    ~AltStack()
    {
        if (!memory)
            return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        std::free(memory);
    }

    void ensure()
    {
        if (checked)
            return;
        checked = true;
        stack_t current{};
        if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0)
            return;
        memory = std::malloc(kAltStackBytes);
        if (!memory)
            return; // the handler then runs on the thread's own stack
        stack_t mine{};
        mine.ss_sp = memory;
        mine.ss_size = kAltStackBytes;
        if (sigaltstack(&mine, nullptr) != 0) {
            std::free(memory);
            memory = nullptr;
        }
    }

private:
    bool checked = false;
    void *memory = nullptr;
};

thread_local AltStack altStack;

void keep(const char *text)
{
    std::strncpy(faultText, text, sizeof faultText - 1);
    faultText[sizeof faultText - 1] = '\0';
}

// A fault outside every guard goes to the handler that was there before,
// or, with none, takes its default action when the faulting instruction
// runs again.
void passOn(int number, siginfo_t *info, void *context)
{
    const struct sigaction &before = number == SIGBUS ? busBefore : segvBefore;
    if ((before.sa_flags & SA_SIGINFO) != 0 && before.sa_sigaction) {
        before.sa_sigaction(number, info, context);
        return;
    }
    if ((before.sa_flags & SA_SIGINFO) == 0 && before.sa_handler != SIG_DFL &&
        before.sa_handler != SIG_IGN) {
        before.sa_handler(number);
        return;
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(number, &fallback, nullptr);
}

void onFault(int number, siginfo_t *info, void *context)
{
    fault_guard::Scope *scope = innermost;
    if (!scope) {
        passOn(number, info, context);
        return;
    }
    keep(number == SIGBUS ? "SIGBUS" : "SIGSEGV");
    siglongjmp(scope->jump, 1);
}

// SA_NODEFER: the jump back leaves no signal blocked, so that the guard
// need not save and restore the mask.
void installHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_sigaction = onFault;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(SIGSEGV, &action, &segvBefore);
        sigaction(SIGBUS, &action, &busBefore);
    });
}

} // namespace

namespace fault_guard {

void enter(Scope &scope)
{
    altStack.ensure();
    installHandlers();
    scope.outer = innermost;
    innermost = &scope;
}

void leave(Scope &scope)
{
    innermost = scope.outer;
}

// A handler that runs ours from its own (as a fuzzer's does), installed
// without SA_NODEFER, leaves the signal blocked when ours jumps back: the
// next fault would then end the process. So the two are unblocked here,
// on the way back from a fault only.
void landed(Scope &scope)
{
    innermost = scope.outer;
    sigset_t faults;
    sigemptyset(&faults);
    sigaddset(&faults, SIGSEGV);
    sigaddset(&faults, SIGBUS);
    pthread_sigmask(SIG_UNBLOCK, &faults, nullptr);
}

} // namespace fault_guard

std::string lastFault()
{
    return faultText;
}

void containAssertion(const char *text)
{
    fault_guard::Scope *scope = innermost;
    if (!scope)
        return;
    keep(text);
    siglongjmp(scope->jump, 1);
}

} // namespace vokid
