// The console of the simulated computer is the controlling terminal, whatever
// standard input and output are. While a prompt reads keys the terminal is in
// raw mode: no echo (keys typed ahead must not show, a password least of all),
// no line editing, no signal keys, no carriage-return translation. Output keeps
// its own processing.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/console.h"
#include "platform/simulated/key_decoder.h"
#include "platform/simulated/signals.h"

namespace {

constexpr int kEscWaitMs = 50;  // how long an Esc waits for the rest of a sequence
constexpr int kEscape = 27;

int ttyFd = -2;  // -2: not opened yet; -1: there is no terminal
bool rawMode = false;
struct termios savedMode;
sim::KeyValues pendingValues;

int terminal() {
    if (ttyFd == -2) ttyFd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    return ttyFd;
}

void restoreMode() {
    if (rawMode) tcsetattr(ttyFd, TCSANOW, &savedMode);
    rawMode = false;
}

bool enterRawMode() {
    if (rawMode) return true;
    if (tcgetattr(ttyFd, &savedMode) != 0) return false;
    static bool exitHookSet = false;
    if (!exitHookSet) exitHookSet = atexit(restoreMode) == 0;
    struct termios raw = savedMode;
    raw.c_lflag &= ~(ICANON | ECHO | ECHONL | ISIG | IEXTEN);
    raw.c_iflag &= ~(ICRNL | INLCR | IGNCR | IXON);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    // The handlers first, so that a signal during the change restores.
    sim::promptSignalsOn(ttyFd, savedMode, raw);
    rawMode = true;
    if (tcsetattr(ttyFd, TCSANOW, &raw) != 0) {
        rawMode = false;
        sim::promptSignalsOff();
        return false;
    }
    return true;
}

// A signal that ended the prompt reads as a failed input: the prompt then
// ends as Esc does.
int nextByte(bool briefly) {
    if (briefly) {
        struct pollfd waiting = {ttyFd, POLLIN, 0};
        int ready;
        while ((ready = poll(&waiting, 1, kEscWaitMs)) < 0 && errno == EINTR) {
            if (sim::promptInterrupted()) return sim::kInputFailed;
        }
        if (ready == 0) return sim::kNoByteYet;
        if (ready < 0) return sim::kInputFailed;
    }
    unsigned char byte;
    for (;;) {
        if (sim::promptInterrupted()) return sim::kInputFailed;
        ssize_t count = read(ttyFd, &byte, 1);
        if (count == 1) return byte;
        if (count < 0 && errno == EINTR) continue;
        return sim::kInputFailed;
    }
}

}  // namespace

int ConsoleReadKey() {
    if (pendingValues.count) return pendingValues.take();
    if (terminal() < 0 || !enterRawMode()) return -1;
    while (!pendingValues.count) {
        if (!sim::decodeKey(nextByte, pendingValues)) return sim::promptInterrupted() ? kEscape : -1;
    }
    return pendingValues.take();
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
    pendingValues.wipe();
    if (!rawMode) return;
    restoreMode();
    sim::promptSignalsOff();
}
