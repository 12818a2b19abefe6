// A short session with VeskCfg on a small simulated network that vesknet
// makes, typed as a person would type it, printed as the console shows it;
// it ends with what vesknet shows, checks and draws of the network.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tools/support/run_veskcfg.h"

namespace {

std::string veskcfg;
std::string vesknet;
std::string world;

void say(const std::string& text) { std::printf("\n# %s\n", text.c_str()); }

void show(const char* program, const std::vector<std::string>& arguments, const std::vector<std::string>& keys = {}) {
    std::string line = std::string("C:\\> ") + program;
    for (const std::string& argument : arguments) line += " " + argument;
    std::printf("%s\n", line.c_str());
    RunOptions options;
    options.keys = keys;
    options.outputOnTerminal = true;
    RunResult result = runVeskCfg((program == std::string("VeskCfg") ? veskcfg : vesknet).c_str(), arguments, options);
    std::string shown;
    for (char c : result.echo + result.err)
        if (c != '\r') shown += c;
    std::printf("%s", shown.c_str());
    if (!shown.empty() && shown.back() != '\n') std::printf("\n");
    std::printf("(exit status %d)\n", result.status);
}

void run(const std::vector<std::string>& arguments, const std::vector<std::string>& keys = {}) {
    show("VeskCfg", arguments, keys);
}

void net(const std::vector<std::string>& arguments) { show("vesknet", arguments); }

}  // namespace

// The same commands against the Samba servers of scripts/smb-lab.sh: the
// list lives in BACKUP1's real registry, the records on this console.
int smbSession() {
    setenv("VESKCFG_NETWORK", "smb", 1);
    net({"init"});
    say("BACKUP1, STORE2 and STORE3 are Samba servers; this computer is CONSOLE, over VESKCFG_NETWORK=smb.");
    run({"mp", "backup1"}, {"backupadmin\rVault-42\r"});
    run({"md", "backup1", "store2"}, {"storeadmin\rShelf-7\r"});
    run({"md", "backup1", "store3"}, {"storeadmin\rShelf-8\r"});
    run({"ld", "backup1"});
    run({"lp", "store3"});
    say("A wrong password is refused by the server; the right one is stored.");
    run({"cc", "store3"}, {"storeadmin\rShelf-0\r"});
    run({"cc", "store3"}, {"storeadmin\rShelf-8\r"});
    run({"rp", "backup1"});
    run({"rd", "backup1", "store2"});
    run({"rd", "backup1", "store3"});
    run({"rp", "backup1"});
    say("A server whose name has no address: the network path is not found.");
    run({"lp", "nowhere"}, {"someone\rsecret\r"});
    return 0;
}

int main(int argc, char** argv) {
    CLI::App app{"The demonstration: a simulated network made, grouped, broken, mended and drawn", "veskcfg-demo"};
    std::string picture;
    app.add_option("VESKCFG", veskcfg, "The VeskCfg program")->required()->check(CLI::ExistingFile)->type_name("FILE");
    app.add_option("VESKNET", vesknet, "The vesknet program")->required()->check(CLI::ExistingFile)->type_name("FILE");
    app.add_option("WORLD", world, "The folder to make the world in; it must not exist yet")
        ->required()
        ->check(CLI::NonexistentPath)
        ->type_name("DIR");
    app.add_option("PICTURE", picture, "The SVG file to draw the network in")->required()->type_name("FILE");
    bool smb = false;
    app.add_flag("--smb", smb, "Run against the Samba servers of scripts/smb-lab.sh instead");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& asked) {
        return app.exit(asked);
    } catch (const CLI::ParseError& wrong) {
        std::fprintf(stderr, "veskcfg-demo: %s (veskcfg-demo --help says how)\n", wrong.what());
        return 2;
    }
    setenv("VESKCFG_WORLD", world.c_str(), 1);
    setenv("VESKCFG_COMPUTERNAME", "CONSOLE", 1);
    if (smb) return smbSession();

    say("A simulated network in " + world + ", made with vesknet: this computer is CONSOLE;\n"
        "# BACKUP1, STORE2 and STORE3 are servers, each with an account that may open its ipc$ share.");
    net({"init"});
    net({"add", "BACKUP1", "--account", "backupadmin:Vault-42"});
    net({"add", "STORE2", "--account", "storeadmin:Shelf-7"});
    net({"add", "STORE3", "--account", "storeadmin:Shelf-8"});
    say("Make BACKUP1 a primary. No credentials are stored yet, so the tool asks for them.");
    run({"mp", "backup1"}, {"backupadmin\rVault-42\r"});
    say("Attach two distributed servers to it. The primary's credentials are stored now.");
    run({"md", "backup1", "store2"}, {"storeadmin\rShelf-7\r"});
    run({"md", "backup1", "store3"}, {"storeadmin\rShelf-8\r"});
    say("List the primary's servers, and the role of one of them.");
    run({"ld", "backup1"});
    run({"lp", "store3"});
    say("STORE3's password changes: store the new one. A wrong one is refused first.");
    std::ofstream(world + "/STORE3/accounts") << "storeadmin:Shelf-9\n";
    run({"cc", "store3"}, {"storeadmin\rShelf-0\r"});
    run({"cc", "store3"}, {"storeadmin\rShelf-9\r"});
    say("A primary that still has distributed servers cannot be removed. Detach STORE2.");
    run({"rp", "backup1"});
    run({"rd", "backup1", "store2"});
    say("BACKUP1's registry is restored from an old copy that never listed STORE3;\n"
        "# vesknet check finds the record left without its list entry, and says how to mend it.");
    std::ofstream(world + "/BACKUP1/hklm.reg")
        << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n\n";
    net({"check"});
    say("Detaching STORE3 fails, and its record is put back; the record goes by force.");
    run({"rd", "backup1", "store3"});
    run({"frd", "backup1", "store3"});
    say("BACKUP1 goes offline: reaching it fails.");
    net({"offline", "BACKUP1"});
    run({"lp", "backup1"});
    net({"online", "BACKUP1"});
    say("Both stores are attached again; their records went with their stored credentials.");
    run({"md", "backup1", "store2"}, {"storeadmin\rShelf-7\r"});
    run({"md", "backup1", "store3"}, {"storeadmin\rShelf-9\r"});
    say("What the network holds now, whether it is consistent, and its picture.");
    net({"show"});
    net({"check"});
    net({"graph"});
    net({"graph", "--format", "svg", "-o", picture});
    std::printf("\nThe picture is in %s.\n", picture.c_str());
    return 0;
}
