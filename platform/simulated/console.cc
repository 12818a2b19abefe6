// The console of the simulated computer is the controlling terminal, whatever
// standard input and output are. From the start of a run the terminal holds
// typed keys unechoed and untranslated (holdTypedKeys); while a prompt reads
// them it is in raw mode: no line editing, no signal keys, no flow control
// either. Output keeps its own processing. A field may be answered by a
// program instead (askpass.h): its keys are read as typed, and nothing of
// them is echoed.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <string.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/console.h"
#include "platform/simulated/askpass.h"
#include "platform/simulated/key_decoder.h"
#include "platform/simulated/signals.h"
#include "platform/simulated/terminal.h"
#include "platform/simulated/trace.h"

namespace {

constexpr int kEscWaitMs = 50;  // how long an Esc waits for the rest of a sequence
constexpr int kEscape = 27;

int ttyFd = -2;  // -2: not opened yet; -1: there is no terminal
bool taken = false;    // the run has the terminal in its own modes
bool rawMode = false;  // a prompt reads keys
struct termios originalMode, heldMode;
sim::KeyValues pendingValues;
bool answering = false;    // the field's keys are a program's answer
std::string answeredKeys;  // that answer, with its Enter, or an Esc
size_t answeredAt = 0;     // the next of them to read

void forgetAnswer() {
    explicit_bzero(answeredKeys.data(), answeredKeys.size());
    answeredKeys.clear();
    answeredAt = 0;
    answering = false;
}

int terminal() {
    if (ttyFd == -2) ttyFd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    return ttyFd;
}

void giveBack() {
    if (taken) tcsetattr(ttyFd, TCSANOW, &originalMode);
}

// Keys wait as typed: an Enter stays a carriage return, nothing is echoed,
// and a key is readable as soon as it comes. Ctrl+C still ends the run.
termios heldModeOf(const termios& original) {
    termios held = original;
    held.c_lflag &= ~(ICANON | ECHO | ECHONL | IEXTEN);
    held.c_iflag &= ~(ICRNL | INLCR | IGNCR);
    held.c_cc[VMIN] = 1;
    held.c_cc[VTIME] = 0;
    return held;
}

bool takeTerminal() {
    if (taken) return true;
    if (terminal() < 0 || tcgetattr(ttyFd, &originalMode) != 0) return false;
    heldMode = heldModeOf(originalMode);
    // The handlers first, so that a signal during the change gives it back.
    sim::runSignalsOn(ttyFd, originalMode, heldMode);
    if (atexit(giveBack) != 0) return false;
    taken = true;
    return tcsetattr(ttyFd, TCSANOW, &heldMode) == 0;
}

void leaveRawMode() {
    if (rawMode) tcsetattr(ttyFd, TCSANOW, &heldMode);
    rawMode = false;
}

bool enterRawMode() {
    if (rawMode) return true;
    if (!takeTerminal()) return false;
    struct termios raw = heldMode;
    raw.c_lflag &= ~ISIG;
    raw.c_iflag &= ~IXON;
    sim::promptSignalsOn(&raw);
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

void ConsoleStartField(const char* promptText) {
    forgetAnswer();
    bool haveTerminal = terminal() >= 0;
    if (sim::askpassAnswers(haveTerminal)) {
        answeredKeys = sim::askpassKeys(promptText);
        answering = true;
        return;
    }
    static bool told = false;
    if (haveTerminal || told) return;
    told = true;
    sim::diagnose("no terminal to ask for \"%s\" on: the prompt ends as Esc. VESKCFG_ASKPASS can name a program "
                  "that answers it.", promptText);
}

int ConsoleReadKey() {
    if (answering) return answeredAt < answeredKeys.size() ? static_cast<unsigned char>(answeredKeys[answeredAt++]) : kEscape;
    if (pendingValues.count) return pendingValues.take();
    if (terminal() < 0 || !enterRawMode()) return -1;
    while (!pendingValues.count) {
        if (!sim::decodeKey(nextByte, pendingValues)) return sim::promptInterrupted() ? kEscape : -1;
    }
    return pendingValues.take();
}

int ConsoleWriteByte(int byte) {
    if (answering) return byte & 0xFF;  // an answer is never echoed
    if (terminal() < 0) return -1;
    unsigned char out = static_cast<unsigned char>(byte);
    ssize_t count;
    while ((count = write(ttyFd, &out, 1)) < 0 && errno == EINTR) {
    }
    return count == 1 ? out : -1;
}

void ConsoleEndKeys() {
    forgetAnswer();
    pendingValues.wipe();
    if (!rawMode) return;
    leaveRawMode();
    sim::promptSignalsOff();
}

void sim::holdTypedKeys() {
    if (terminal() < 0 || tcgetpgrp(ttyFd) != getpgrp()) return;
    takeTerminal();
}
