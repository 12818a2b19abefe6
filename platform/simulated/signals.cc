#include "platform/simulated/signals.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <initializer_list>
#include <cstdio>
#include <cstring>

#include "platform/process.h"

namespace {

const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kEndingCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

volatile sig_atomic_t promptSignal = 0;  // the signal that ended a prompt
volatile sig_atomic_t heldSignal = 0;    // the first signal held during a change
bool holding = false;

// The prompt's terminal, for the handlers.
int promptTty = -1;
termios cookedMode, rawMode;
struct sigaction beforePrompt[kEndingCount], stopBeforePrompt;

void endAtOnce(int number) {
    if (promptTty >= 0) tcsetattr(promptTty, TCSANOW, &cookedMode);
    signal(number, SIG_DFL);
    raise(number);
}

void onPromptSignal(int number) {
    if (promptSignal) endAtOnce(number);
    promptSignal = number;
}

// Ctrl-Z: stopped with the terminal as the shell expects it, raw again on fg.
void onStop(int) {
    int savedErrno = errno;
    tcsetattr(promptTty, TCSANOW, &cookedMode);
    signal(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(SIGTSTP);
    // Continued.
    struct sigaction again = {};
    again.sa_handler = onStop;
    again.sa_flags = SA_RESTART;
    sigemptyset(&again.sa_mask);
    sigaction(SIGTSTP, &again, nullptr);
    tcsetattr(promptTty, TCSANOW, &rawMode);
    errno = savedErrno;
}

void onHeldSignal(int number) {
    // After a prompt that a signal ended, another one ends the run.
    if (promptSignal) endAtOnce(number);
    if (!heldSignal) heldSignal = number;
}

void install(int number, void (*handler)(int), int flags, struct sigaction* before) {
    struct sigaction action = {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    for (int ending : kEndingSignals) sigaddset(&action.sa_mask, ending);
    sigaction(number, &action, before);
}

}  // namespace

namespace sim {

void promptSignalsOn(int ttyFd, const termios& cooked, const termios& raw) {
    cookedMode = cooked;
    rawMode = raw;
    promptTty = ttyFd;
    promptSignal = 0;
    // No SA_RESTART: the read of the next key must end when one comes.
    for (int i = 0; i < kEndingCount; ++i) install(kEndingSignals[i], onPromptSignal, 0, &beforePrompt[i]);
    install(SIGTSTP, onStop, SA_RESTART, &stopBeforePrompt);
}

void promptSignalsOff() {
    for (int i = 0; i < kEndingCount; ++i) sigaction(kEndingSignals[i], &beforePrompt[i], nullptr);
    sigaction(SIGTSTP, &stopBeforePrompt, nullptr);
    promptTty = -1;
}

bool promptInterrupted() { return promptSignal != 0; }

}  // namespace sim

void HoldInterrupts() {
    if (holding) return;
    holding = true;
    for (int number : {SIGINT, SIGTERM, SIGHUP}) install(number, onHeldSignal, SA_RESTART, nullptr);
}

void ReportHeldInterrupt() {
    if (!heldSignal) return;
    std::fflush(stdout);
    std::fprintf(stderr, "VeskCfg: %s came during a change and was held until the change was whole.\n",
                 strsignal(heldSignal));
}
