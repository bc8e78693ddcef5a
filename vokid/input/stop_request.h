// A stop asked for by a signal (Ctrl-C, SIGTERM) while a live input is
// read: reads that would wait for more (a pipe, a stream, a file being
// followed) end as the input's end does, so that what was heard until
// then is still reported.
#ifndef VOKID_INPUT_STOP_REQUEST_H
#define VOKID_INPUT_STOP_REQUEST_H

namespace vokid {

// Async-signal-safe: a signal handler may call it.
void requestStop();
bool stopRequested();

// Until it is destroyed, SIGINT and SIGTERM ask for a stop instead of
// ending the process. Threads started while it lives do not take those
// signals (they are blocked in them), so that they interrupt the
// constructing thread's waiting reads.
class StopOnSignals {
public:
    StopOnSignals();
    ~StopOnSignals();
    StopOnSignals(const StopOnSignals &) = delete;
    StopOnSignals &operator=(const StopOnSignals &) = delete;

    // Lets the constructing thread take the signals again, once the
    // threads that must not are started.
    void unblock();
};

} // namespace vokid

#endif
