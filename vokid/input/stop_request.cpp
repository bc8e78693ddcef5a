#include "vokid/input/stop_request.h"

#include <csignal>

#include <pthread.h>

namespace vokid {

namespace {

volatile std::sig_atomic_t stopping = 0;

void onSignal(int)
{
    requestStop();
}

sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

void requestStop()
{
    stopping = 1;
}

bool stopRequested()
{
    return stopping != 0;
}

StopOnSignals::StopOnSignals()
{
    // No SA_RESTART: a read waiting in the constructing thread returns
    // with EINTR and sees the request.
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void StopOnSignals::unblock()
{
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

StopOnSignals::~StopOnSignals()
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    unblock();
}

} // namespace vokid
