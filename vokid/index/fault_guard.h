// Faults while reading a store's memory-mapped file, contained. A damaged
// page can send the store (LMDB trusts its file) or a read of what it
// returns past the end of the file (SIGBUS), off the map (SIGSEGV), or
// into one of the store's own assertions. Inside guardFaults such a fault
// on the calling thread returns control to the guard, which answers
// false; elsewhere a fault is what it always was (the handler installed
// before, such as a sanitizer's, or the default: the process ends).
//
// The guarded work must hold no object with a destructor of its own (the
// jump back skips its frames): C calls, and copies into buffers that live
// outside it. Each thread has its own guards, and an alternate signal
// stack where it has none, so that a guard works on any thread.
#ifndef VOKID_INDEX_FAULT_GUARD_H
#define VOKID_INDEX_FAULT_GUARD_H

#include <setjmp.h>

#include <string>

namespace vokid {

namespace fault_guard {

struct Scope {
    sigjmp_buf jump;
    Scope *outer = nullptr;
};

// Installs the handlers (once) and this thread's alternate stack, and
// makes `scope` the innermost guard of the thread.
void enter(Scope &scope);
void leave(Scope &scope);
// After the jump back: the scope is left, what the fault was is kept.
void landed(Scope &scope);

} // namespace fault_guard

// Runs work(); false when a fault was contained ("SIGBUS", "SIGSEGV" or
// the assertion's text then in lastFault()). The mask of blocked signals
// is not saved (a system call each time); after a fault, SIGSEGV and
// SIGBUS are unblocked, whatever handler ran ours.
template <class Work>
bool guardFaults(Work &&work)
{
    fault_guard::Scope scope;
    fault_guard::enter(scope);
    if (sigsetjmp(scope.jump, 0) != 0) {
        fault_guard::landed(scope);
        return false;
    }
    try {
        work();
    } catch (...) {
        fault_guard::leave(scope);
        throw;
    }
    fault_guard::leave(scope);
    return true;
}

// What the last fault contained on this thread was.
std::string lastFault();

// For a store's assertion hook (LMDB's mdb_env_set_assert): inside a
// guard, jumps back to it with `text` as the fault; outside, returns (the
// store then ends the process, as it would have).
void containAssertion(const char *text);

} // namespace vokid

#endif
