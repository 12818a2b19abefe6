// A short session with VeskCfg on a small simulated network, typed as a
// person would type it, printed as the console shows it.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tools/support/run_veskcfg.h"

namespace {

std::string world;

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(world + "/" + path, std::ios::binary) << content;
}

void addServer(const std::string& name, const std::string& account) {
    mkdir((world + "/" + name).c_str(), 0700);
    writeFile(name + "/accounts", account + "\n");
}

void say(const std::string& text) { std::printf("\n# %s\n", text.c_str()); }

// Runs one command line; keys are typed at its prompts in turn.
void run(const char* binary, const std::vector<std::string>& arguments, const std::vector<std::string>& keys = {}) {
    std::string line = "C:\\> VeskCfg";
    for (const std::string& argument : arguments) line += " " + argument;
    std::printf("%s\n", line.c_str());
    RunOptions options;
    options.keys = keys;
    options.outputOnTerminal = true;
    RunResult result = runVeskCfg(binary, arguments, options);
    std::string shown;
    for (char c : result.echo)
        if (c != '\r') shown += c;
    std::printf("%s", shown.c_str());
    if (!shown.empty() && shown.back() != '\n') std::printf("\n");
    std::printf("(exit status %d)\n", result.status);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s VESKCFG-BINARY EMPTY-WORLD-DIRECTORY\n", argv[0]);
        return 2;
    }
    const char* binary = argv[1];
    world = argv[2];
    setenv("VESKCFG_WORLD", world.c_str(), 1);
    setenv("VESKCFG_COMPUTERNAME", "CONSOLE", 1);
    mkdir(world.c_str(), 0700);
    mkdir((world + "/CONSOLE").c_str(), 0700);
    addServer("BACKUP1", "backupadmin:Vault-42");
    addServer("STORE2", "storeadmin:Shelf-7");
    addServer("STORE3", "storeadmin:Shelf-8");
    std::printf("A simulated network in %s: this computer is CONSOLE; BACKUP1, STORE2 and STORE3\n"
                "are servers, each with an account that may open its ipc$ share.\n",
                world.c_str());

    say("Make BACKUP1 a primary. No credentials are stored yet, so the tool asks for them.");
    run(binary, {"mp", "backup1"}, {"backupadmin\rVault-42\r"});
    say("Attach two distributed servers to it. The primary's credentials are stored now.");
    run(binary, {"md", "backup1", "store2"}, {"storeadmin\rShelf-7\r"});
    run(binary, {"md", "backup1", "store3"}, {"storeadmin\rShelf-8\r"});
    say("List the primary's servers, and the role of one of them.");
    run(binary, {"ld", "backup1"});
    run(binary, {"lp", "store3"});
    say("STORE3's password changes: store the new one. A wrong one is refused first.");
    writeFile("STORE3/accounts", "storeadmin:Shelf-9\n");
    run(binary, {"cc", "store3"}, {"storeadmin\rShelf-0\r"});
    run(binary, {"cc", "store3"}, {"storeadmin\rShelf-9\r"});
    say("A primary that still has distributed servers cannot be removed.");
    run(binary, {"rp", "backup1"});
    say("Detach STORE2.");
    run(binary, {"rd", "backup1", "store2"});
    say("BACKUP1's registry is restored from an old copy that never listed STORE3: detaching it fails,\n"
        "# and its record is put back.");
    writeFile("BACKUP1/hklm.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n\n");
    run(binary, {"rd", "backup1", "store3"});
    say("The record left behind goes by force.");
    run(binary, {"frd", "backup1", "store3"});
    say("Nothing is attached any more: remove the primary.");
    run(binary, {"rp", "backup1"});
    say("Its record went with its stored credentials: reaching it asks for them again.");
    run(binary, {"lp", "backup1"}, {"backupadmin\rVault-42\r"});
    return 0;
}
