// Runs one command line as cmd.exe runs a line typed at its prompt, in this
// program's own folder: for the tests that run vesknet.exe's mend lines as
// they are written. The line comes in hex, so that no quoting on the way
// changes it; the exit status is the line's.
#include <windows.h>

#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) return 87;
    std::string line;
    for (const char* at = argv[1]; at[0] && at[1]; at += 2) line += static_cast<char>(std::stoi(std::string(at, 2), nullptr, 16));
    char folder[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, folder, sizeof folder);
    *std::strrchr(folder, '\\') = '\0';
    std::string commandLine = "cmd.exe /d /c " + line;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, folder, &startup, &process))
        return static_cast<int>(GetLastError());
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    return static_cast<int>(status);
}
