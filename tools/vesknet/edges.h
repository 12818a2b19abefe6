// Where vesknet meets its platform (linux/edges.cc, windows/edges.cc): the
// terminal's character set, names in UTF-8, the command line's text, the
// settings a run starts from, Graphviz, and the reader a run may be.
#pragma once

#include <string>

#include "tools/vesknet/output.h"

namespace vesknet {

// The words of --help that differ between the platforms.
struct HelpTexts {
    const char* about;        // the program in one line
    const char* worldOnly;    // after each command of the simulated network
    const char* checkStatus;  // check's exit statuses
    const char* jobs;         // --jobs
    const char* timeout;      // --timeout
};
extern const HelpTexts kHelp;

// A line of text output, in the code page, as the terminal takes it.
std::string forTerminal(const std::string& line);

// A byte of a name that would reach the terminal as a C1 control.
bool showsAsControl(unsigned char byte);

// A name in UTF-8; false when one of its bytes has no character.
bool toUtf8(const std::string& ansi, std::string& utf8);
// The same, with U+FFFD for each byte that has none.
std::string toUtf8OrMark(const std::string& ansi);

// An argument's text, in the code page from here on; false, with why, when
// it holds a character the code page lacks. what: "a name", "an account".
bool fromCommandLine(std::string& text, const char* what, std::string& why);

// The world and the console defaulted and checked, where the platform has
// them; false after saying why in one line.
bool settle(Settings& settings);

// The DOT text drawn as SVG by Graphviz's dot into target (standard output
// when empty); the exit status.
int drawSvg(const std::string& dot, const std::string& target);

// A run that is a reader of a primary (Windows starts one as a process of
// its own): its exit status once it has answered; -1 for any other run.
int answerAsReader(int argc, char** argv);

}  // namespace vesknet
