// The console of the simulated computer is the controlling terminal, whatever
// standard input and output are. While a prompt reads keys the terminal is in
// raw mode: no echo (keys typed ahead must not show, a password least of all),
// no line editing, no signal keys, no carriage-return translation. Output keeps
// its own processing.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <deque>

#include "platform/console.h"
#include "platform/simulated/key_decoder.h"

namespace {

constexpr int kEscWaitMs = 50;  // how long an Esc waits for the rest of a sequence

int ttyFd = -2;  // -2: not opened yet; -1: there is no terminal
bool rawMode = false;
struct termios savedMode;
struct sigaction savedActions[3];
const int kRestoringSignals[3] = {SIGINT, SIGTERM, SIGHUP};
std::deque<int> pendingValues;

int terminal() {
    if (ttyFd == -2) ttyFd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    return ttyFd;
}

void restoreMode() {
    if (rawMode) tcsetattr(ttyFd, TCSANOW, &savedMode);
    rawMode = false;
}

// Ended by a signal while the terminal is raw: give the terminal its mode
// back, then die of the signal as if nothing had been caught.
void onSignal(int number) {
    if (rawMode) tcsetattr(ttyFd, TCSANOW, &savedMode);
    signal(number, SIG_DFL);
    raise(number);
}

void restoreSignals() {
    for (int i = 0; i < 3; ++i) sigaction(kRestoringSignals[i], &savedActions[i], nullptr);
}

bool enterRawMode() {
    if (rawMode) return true;
    if (tcgetattr(ttyFd, &savedMode) != 0) return false;
    static bool exitHookSet = false;
    if (!exitHookSet) exitHookSet = atexit(restoreMode) == 0;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) sigaction(kRestoringSignals[i], &action, &savedActions[i]);
    struct termios raw = savedMode;
    raw.c_lflag &= ~(ICANON | ECHO | ECHONL | ISIG | IEXTEN);
    raw.c_iflag &= ~(ICRNL | INLCR | IGNCR | IXON);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    rawMode = true;  // before the change, so that a signal during it restores
    if (tcsetattr(ttyFd, TCSANOW, &raw) != 0) {
        rawMode = false;
        restoreSignals();
        return false;
    }
    return true;
}

int nextByte(bool briefly) {
    if (briefly) {
        struct pollfd waiting = {ttyFd, POLLIN, 0};
        int ready;
        while ((ready = poll(&waiting, 1, kEscWaitMs)) < 0 && errno == EINTR) {
        }
        if (ready == 0) return sim::kNoByteYet;
        if (ready < 0) return sim::kInputFailed;
    }
    unsigned char byte;
    for (;;) {
        ssize_t count = read(ttyFd, &byte, 1);
        if (count == 1) return byte;
        if (count < 0 && errno == EINTR) continue;
        return sim::kInputFailed;
    }
}

}  // namespace

int ConsoleReadKey() {
    if (!pendingValues.empty()) {
        int value = pendingValues.front();
        pendingValues.pop_front();
        return value;
    }
    if (terminal() < 0 || !enterRawMode()) return -1;
    while (pendingValues.empty()) {
        if (!sim::decodeKey(nextByte, pendingValues)) return -1;
    }
    int value = pendingValues.front();
    pendingValues.pop_front();
    return value;
}

int ConsoleWriteByte(int byte) {
    if (terminal() < 0) return -1;
    unsigned char out = static_cast<unsigned char>(byte);
    ssize_t count;
    while ((count = write(ttyFd, &out, 1)) < 0 && errno == EINTR) {
    }
    return count == 1 ? out : -1;
}

void ConsoleEndKeys() {
    pendingValues.clear();
    if (!rawMode) return;
    restoreMode();
    restoreSignals();
}
