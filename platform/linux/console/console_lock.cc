// One run at a time on a console: two runs on one computer would cancel each
// other's connections (cancelling \\SERVER\ipc$ cancels every connection of
// the logon session to it), so each run holds <LOCAL>/console.lock for its
// whole length, with what it is written in it for the next one to see.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "platform/process.h"
#include "platform/linux/console/charset.h"
#include "platform/linux/machine/files.h"
#include "platform/linux/console/terminal.h"
#include "platform/linux/machine/trace.h"
#include "platform/linux/machine/world.h"

namespace {

constexpr size_t kHolderLength = 512;  // at most this much of the holder's line is shown
constexpr auto kQuietWait = std::chrono::seconds(1);  // waited before saying whom for
constexpr auto kLookAgain = std::chrono::milliseconds(10);

// The command line the holder wrote, in the code page, as the terminal may
// show it: another run's bytes drive no terminal.
std::string holderOf(int fd) {
    char text[kHolderLength] = {};
    ssize_t got = pread(fd, text, sizeof text - 1, 0);
    std::string holder(text, got > 0 ? static_cast<size_t>(got) : 0);
    for (char& byte : holder)
        if (sim::showsAsControl(static_cast<unsigned char>(byte))) byte = '?';
    return holder.empty() ? "another run" : sim::ansiToLocale(holder);
}

}  // namespace

void HoldThisConsole(const char* commandLine) {
    // Keys typed while this run waits are for its prompt.
    sim::holdTypedKeys();
    // Without a sound folder there is nothing to hold; the store's load says why.
    std::string folder = sim::localComputerFolder(true);
    if (folder.empty() || sim::checkFolder(folder)) return;
    int fd = sim::openWorldFile(folder + "/console.lock", O_RDWR | O_CREAT);
    if (fd < 0) return;
    auto started = std::chrono::steady_clock::now();
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            close(fd);
            return;
        }
        if (std::chrono::steady_clock::now() - started >= kQuietWait) {
            sim::diagnose("%s is in progress on this console; waiting for it to end.", holderOf(fd).c_str());
            while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(kLookAgain);
    }
    std::string holder = std::string(commandLine) + " (process " + std::to_string(getpid()) + ")";
    // Only what the next run is told: a failure to write it changes nothing.
    // Written over, then cut to length: emptying it first would free its
    // block at every run.
    if (pwrite(fd, holder.data(), holder.size(), 0) == static_cast<ssize_t>(holder.size())) {
        int cut = ftruncate(fd, static_cast<off_t>(holder.size()));
        (void)cut;
    }
    // Held, open, until the process ends.
}
