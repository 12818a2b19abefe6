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
#include <vector>

#include "platform/linux/machine/codepage.h"
#include "platform/console.h"
#include "platform/linux/console/askpass.h"
#include "platform/linux/console/charset.h"
#include "platform/linux/console/key_decoder.h"
#include "platform/linux/console/signals.h"
#include "platform/linux/console/terminal.h"
#include "platform/linux/machine/trace.h"

namespace {

constexpr int kEscWaitMs = 50;  // how long an Esc waits for the rest of a sequence
constexpr int kEscape = 27;

int ttyFd = -2;  // -2: not opened yet; -1: there is no terminal
bool taken = false;    // the run has the terminal in its own modes
bool rawMode = false;  // a prompt reads keys
struct termios originalMode, heldMode;
sim::KeyValues pendingValues;
std::string echoHeld;      // a lead byte whose trail is not echoed yet
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

// A character typed on a terminal of the locale: its one or two bytes of
// the code page. One the code page lacks ends the prompt as Esc, after
// saying so: a name or a password is never sent mangled.
bool readCharacter(int first, const sim::NextByte& next, sim::KeyValues& values) {
    std::string bytes(1, static_cast<char>(first)), ansi;
    char32_t lacking = 0;
    sim::TypedCharacter read;
    while ((read = sim::typedCharacter(bytes, ansi, lacking)) == sim::TypedCharacter::kPartial) {
        int more = next(true);
        if (more == sim::kInputFailed) return false;
        if (more == sim::kNoByteYet) {  // a character cut short is none
            read = sim::TypedCharacter::kRefused;
            lacking = sim::kNoCharacter;
            break;
        }
        bytes += static_cast<char>(more);
    }
    if (read == sim::TypedCharacter::kWhole) {
        for (char byte : ansi) values.push(static_cast<unsigned char>(byte));
    } else {
        sim::diagnose("a key typed holds %s: the prompt ends as Esc.", sim::lackingText(lacking).c_str());
        values.push(kEscape);
    }
    explicit_bzero(bytes.data(), bytes.size());
    explicit_bzero(ansi.data(), ansi.size());
    return true;
}

}  // namespace

char** OpenConsole(int argc, char** argv) {
    static std::vector<std::string> arguments;
    static std::vector<char*> pointers;
    arguments.assign(argv, argv + argc);
    for (int i = 1; i < argc; ++i) {
        char32_t lacking = 0;
        if (sim::localeToAnsi(argv[i], arguments[i], lacking)) continue;
        sim::diagnose("an argument holds %s: it is refused (error 123).", sim::lackingText(lacking).c_str());
        return nullptr;
    }
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    sim::convertStandardOutput();
    return pointers.data();
}

bool ConsoleShowsAsControl(unsigned char byte) { return sim::showsAsControl(byte); }

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
                  "that answers it.", sim::ansiToLocale(promptText).c_str());
}

int ConsoleReadKey() {
    if (answering) return answeredAt < answeredKeys.size() ? static_cast<unsigned char>(answeredKeys[answeredAt++]) : kEscape;
    if (pendingValues.count) return pendingValues.take();
    if (terminal() < 0 || !enterRawMode()) return -1;
    while (!pendingValues.count) {
        bool read = sim::consoleConverts() ? sim::decodeKey(nextByte, pendingValues, readCharacter)
                                           : sim::decodeKey(nextByte, pendingValues);
        if (!read) return sim::promptInterrupted() ? kEscape : -1;
    }
    return pendingValues.take();
}

// The byte in the locale's character set; a lead byte waits for its trail.
int ConsoleWriteByte(int byte) {
    if (answering) return byte & 0xFF;  // an answer is never echoed
    if (terminal() < 0) return -1;
    unsigned char out = static_cast<unsigned char>(byte);
    std::string shown(1, static_cast<char>(out));
    if (sim::consoleConverts()) {
        if (echoHeld.empty() && sim::isLeadByte(out)) {
            echoHeld = shown;
            return out;
        }
        shown = sim::ansiToLocale(echoHeld + shown);
        echoHeld.clear();
    }
    for (size_t written = 0; written < shown.size();) {
        ssize_t count = write(ttyFd, shown.data() + written, shown.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return -1;
        written += static_cast<size_t>(count);
    }
    return out;
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
