// SIGINT and SIGTERM end a kevractl command cleanly: the handler only raises a flag that the
// command's waits look at, and hands the signal back to its default action, so a second one
// ends the program at once.
#include "Commands.h"

#include <csignal>

namespace kevra {

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

void onSignal(int)
{
    gInterrupted = 1;
}

}   // namespace

void installInterruptHandlers()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESETHAND;   // no SA_RESTART: a blocking call returns at once
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A file-size limit makes writes fail with a message instead of killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
}

bool interrupted()
{
    return gInterrupted != 0;
}

}   // namespace kevra
