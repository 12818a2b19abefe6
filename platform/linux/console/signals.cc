#include "platform/linux/console/signals.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/process.h"

namespace {

const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// The ones a change holds: SIGQUIT asks for the run's end with a core, at
// once, whatever it is doing (no core is written: KeepSecretsFromOthers).
const int kHeldSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kEndingCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

volatile sig_atomic_t promptSignal = 0;  // the signal that ended a prompt
volatile sig_atomic_t heldSignal = 0;    // the first signal held during a change
bool holding = false;

// The run's terminal, for the handlers: the mode it was found in, the mode
// the run keeps it in between prompts, and the mode it has now.
int runTty = -1;
termios originalMode, heldMode, currentMode;
struct sigaction beforePrompt[kEndingCount];

void giveBackTerminal() {
    if (runTty >= 0) tcsetattr(runTty, TCSANOW, &originalMode);
}

void endAtOnce(int number) {
    giveBackTerminal();
    signal(number, SIG_DFL);
    raise(number);  // delivered, by default, once the handler returns
}

void onPromptSignal(int number) {
    if (promptSignal) endAtOnce(number);
    promptSignal = number;
}

// Ctrl-Z: stopped with the terminal as the shell expects it, in the run's
// mode again on fg.
void onStop(int) {
    int savedErrno = errno;
    giveBackTerminal();
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
    if (runTty >= 0) tcsetattr(runTty, TCSANOW, &currentMode);
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

void runSignalsOn(int ttyFd, const termios& original, const termios& held) {
    originalMode = original;
    heldMode = currentMode = held;
    runTty = ttyFd;
    for (int number : kEndingSignals) install(number, endAtOnce, 0, nullptr);
    install(SIGTSTP, onStop, SA_RESTART, nullptr);
    // A change already under way keeps holding what it holds.
    if (holding)
        for (int number : kHeldSignals) install(number, onHeldSignal, SA_RESTART, nullptr);
}

void promptSignalsOn(const termios* raw) {
    if (raw) currentMode = *raw;
    promptSignal = 0;
    // No SA_RESTART: the read of the next key must end when one comes.
    for (int i = 0; i < kEndingCount; ++i) install(kEndingSignals[i], onPromptSignal, 0, &beforePrompt[i]);
}

void promptSignalsOff() {
    for (int i = 0; i < kEndingCount; ++i) sigaction(kEndingSignals[i], &beforePrompt[i], nullptr);
    currentMode = heldMode;
}

bool promptInterrupted() { return promptSignal != 0; }

}  // namespace sim

void HoldInterrupts() {
    if (holding) return;
    holding = true;
    for (int number : kHeldSignals) install(number, onHeldSignal, SA_RESTART, nullptr);
}

void ReportHeldInterrupt() {
    if (!heldSignal) return;
    std::fflush(stdout);
    std::fprintf(stderr, "VeskCfg: %s came during a change and was held until the change was whole.\n",
                 strsignal(heldSignal));
}
