// vesknet's edges on Windows: the console takes the code page's bytes as
// VeskCfg.exe writes them; the console is this computer; Graphviz's dot.exe
// is started from the PATH; a reader is a run of vesknet.exe itself.
#include "tools/vesknet/edges.h"

#include <mbstring.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/vesknet/remote_lists.h"

namespace vesknet {

const HelpTexts kHelp = {
    "vesknet: show, check and draw how VeskCfg has grouped the servers, from the console it runs on",
    " (the Linux build's simulated network only)",
    "(exit 0 consistent, 1 not, 2 the console's records cannot be read)",
    "How many primaries are read at once (16)",
    "How many seconds a primary is given to be read before it is a finding (120)",
};

std::string forTerminal(const std::string& line) { return line; }

// The code page gives 0x80-0x9F characters of their own, and the console
// shows them as such.
bool showsAsControl(unsigned char) { return false; }

namespace {

std::string utf8Of(const std::string& ansi, DWORD flags, bool& whole) {
    whole = true;
    if (ansi.empty()) return {};
    int wide = MultiByteToWideChar(CP_ACP, flags, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    if (wide <= 0) {
        whole = false;
        return {};
    }
    std::wstring text(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, flags, ansi.data(), static_cast<int>(ansi.size()), text.data(), wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

}  // namespace

bool toUtf8(const std::string& ansi, std::string& utf8) {
    bool whole = false;
    utf8 = utf8Of(ansi, MB_ERR_INVALID_CHARS, whole);
    return whole;
}

std::string toUtf8OrMark(const std::string& ansi) {
    bool whole = false;
    return utf8Of(ansi, 0, whole);
}

// The runtime gives the arguments in the code page already.
bool fromCommandLine(std::string&, const char*, std::string&) { return true; }

bool settle(Settings& settings) {
    for (const char* given : {settings.world.empty() ? nullptr : "--world", settings.console.empty() ? nullptr : "--console"}) {
        if (!given) continue;
        fail(std::string(given) + " belongs to the Linux build's simulated network: vesknet.exe reads this console");
        return false;
    }
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) {
        fail("this computer's name cannot be read (error " + std::to_string(GetLastError()) + ")");
        return false;
    }
    settings.console = name;
    return true;
}

// dot.exe from the PATH, the DOT text on its standard input through a pipe;
// its standard output ours when there is no file to write.
int drawSvg(const std::string& dot, const std::string& target) {
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0))
        return fail("a pipe for dot (error " + std::to_string(GetLastError()) + ")");
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
    std::string commandLine = "dot -Tsvg";
    if (!target.empty()) commandLine += " -o \"" + target + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    std::fflush(stdout);
    BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                  &process);
    DWORD why = GetLastError();
    CloseHandle(readEnd);
    if (!started) {
        CloseHandle(writeEnd);
        return fail("Graphviz's dot.exe cannot be started (error " + std::to_string(why) +
                    "); is Graphviz installed, its bin folder on the PATH?");
    }
    CloseHandle(process.hThread);
    for (size_t written = 0; written < dot.size();) {
        DWORD count = 0;
        if (!WriteFile(writeEnd, dot.data() + written, static_cast<DWORD>(dot.size() - written), &count, nullptr)) break;
        written += count;
    }
    CloseHandle(writeEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    if (status != 0) return fail("Graphviz's dot failed to write " + (target.empty() ? std::string("the drawing") : target));
    return 0;
}

// vesknet.exe --reader HEX 0|1: the primary whose name is HEX's bytes, and
// whether the console had its connection before; the answer on standard
// output, a pipe.
int answerAsReader(int argc, char** argv) {
    if (argc != 4 || std::strcmp(argv[1], "--reader") != 0) return -1;
    std::string answer = readerAnswer(bytesOf(argv[2]), std::strcmp(argv[3], "1") == 0);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    for (size_t written = 0; written < answer.size();) {
        DWORD count = 0;
        if (!WriteFile(out, answer.data() + written, static_cast<DWORD>(answer.size() - written), &count, nullptr)) return 1;
        written += count;
    }
    return 0;
}

// Names compare as VeskCfg.exe compares them: upper-cased by the runtime in
// the code page.
std::string upperName(const std::string& name) {
    std::string upper = name;
    _mbsupr(reinterpret_cast<unsigned char*>(upper.data()));
    return upper;
}

bool sameName(const std::string& left, const std::string& right) { return upperName(left) == upperName(right); }

}  // namespace vesknet
