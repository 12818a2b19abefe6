// vesknet: shows, checks and draws how VeskCfg has grouped the servers, from
// the console VeskCfg runs on; on Linux it makes and changes a simulated
// network for VeskCfg too.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tools/vesknet/edges.h"
#include "tools/vesknet/output.h"
#include "tools/vesknet/world_commands.h"

int main(int argc, char** argv) {
    if (int status = vesknet::answerAsReader(argc, argv); status >= 0) return status;
    // Its readers unscramble the stored passwords: nothing of it may be
    // dumped, from the first line on (its processes inherit it).
    KeepSecretsFromOthers();
    using vesknet::kHelp;
    auto worldOnly = [](const std::string& about) { return about + kHelp.worldOnly; };
    CLI::App app{kHelp.about, "vesknet"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "vesknet " VESKCFG_VERSION);
    vesknet::Settings settings;
    app.add_option("--world", settings.world, worldOnly("The world folder (default: VESKCFG_WORLD, as for VeskCfg)"))
        ->type_name("DIR");
    app.add_option("--console", settings.console,
                   worldOnly("The computer VeskCfg runs on (default: VESKCFG_COMPUTERNAME, else the host's name)"))
        ->type_name("NAME");
    app.add_option("--jobs", settings.reading.jobs,
                   kHelp.jobs)
        ->check(CLI::Range(1u, 256u))
        ->type_name("N");
    app.add_option("--timeout", settings.reading.seconds,
                   kHelp.timeout)
        ->check(CLI::Range(1u, 86400u))
        ->type_name("SECONDS");

    auto* initCommand = app.add_subcommand("init", worldOnly("Create the world (folders 0700) and the console's computer"));
    std::string name;
    std::vector<std::string> accounts;
    auto* addCommand = app.add_subcommand("add", worldOnly("Add a computer, with the accounts that may open its ipc$ share"));
    addCommand->add_option("NAME", name, "The computer's name")->required()->type_name("NAME");
    addCommand->add_option("--account", accounts, "USER:PASSWORD, as often as needed")->type_name("USER:PASSWORD");
    auto* offlineCommand = app.add_subcommand("offline", worldOnly("Take a computer off the network"));
    offlineCommand->add_option("NAME", name, "The computer's name")->required()->type_name("NAME");
    auto* onlineCommand = app.add_subcommand("online", worldOnly("Bring a computer back on the network"));
    onlineCommand->add_option("NAME", name, "The computer's name")->required()->type_name("NAME");
    std::string call;
    long long code = 0, nth = 0;
    bool clear = false;
    auto* faultCommand = app.add_subcommand("fault", worldOnly("Make a call acting on a computer fail with a code: every such "
                                                               "call, or only the N-th of a run; --clear removes them all"));
    faultCommand->add_option("NAME", name, "The computer's name")->required()->type_name("NAME");
    auto* callOption = faultCommand->add_option("CALL", call, "A call's name, such as RegSetValueExA or writeRecord "
                                                              "(vesknet calls lists them)")->type_name("CALL");
    // As the faults file takes them: a 0 would inject nothing, and VeskCfg
    // would pass over the line.
    faultCommand->add_option("CODE", code, "The Windows code it fails with")
        ->check(CLI::Range(1LL, 4294967295LL))
        ->type_name("CODE");
    faultCommand->add_option("N", nth, "Only the N-th such call of a run")
        ->check(CLI::Range(1LL, 4294967295LL))
        ->type_name("N");
    auto* clearFlag = faultCommand->add_flag("--clear", clear, "Remove every injected failure of the computer");
    callOption->excludes(clearFlag);
    bool json = false;
    auto* showCommand = app.add_subcommand("show", "What the network holds: roles, lists, connections, faults");
    showCommand->add_flag("--json", json, "As one JSON document");
    auto* checkCommand = app.add_subcommand(
        "check", std::string("Audit the grouping; one line per inconsistency with the VeskCfg command that mends it ") +
                     kHelp.checkStatus);
    std::string format = "dot", output;
    auto* graphCommand = app.add_subcommand("graph", "Draw the grouping, inconsistencies in red");
    graphCommand->add_option("--format", format, "dot, or svg through Graphviz's dot")
        ->check(CLI::IsMember({"dot", "svg"}))
        ->type_name("FORMAT");
    graphCommand->add_option("-o", output, "The file to write (default: standard output)")->type_name("FILE");
    auto* callsCommand = app.add_subcommand("calls", worldOnly("List the calls that fault can make fail, one a line"));
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& asked) {
        return app.exit(asked);
    } catch (const CLI::CallForAllHelp& asked) {
        return app.exit(asked);
    } catch (const CLI::CallForVersion& asked) {
        return app.exit(asked);
    } catch (const CLI::ParseError& wrong) {
        // As the manual says: one line, and 2.
        std::fprintf(stderr, "vesknet: %s (vesknet --help says how)\n", wrong.what());
        return vesknet::kFailed;
    }
    std::string why;
    for (std::string* text : {&name, &settings.console})
        if (!vesknet::fromCommandLine(*text, "a name", why)) return vesknet::fail(why);
    for (std::string& account : accounts)
        if (!vesknet::fromCommandLine(account, "an account", why)) return vesknet::fail(why);
    if (callsCommand->parsed()) return vesknet::listCalls();
    if (!vesknet::settle(settings)) return vesknet::kFailed;

    if (initCommand->parsed()) return vesknet::initWorld(settings);
    if (addCommand->parsed()) return vesknet::addComputer(settings, name, accounts);
    if (offlineCommand->parsed()) return vesknet::setOffline(settings, name, true);
    if (onlineCommand->parsed()) return vesknet::setOffline(settings, name, false);
    if (faultCommand->parsed()) {
        if (!clear && (call.empty() || faultCommand->count("CODE") == 0))
            return vesknet::fail("fault NAME CALL CODE [N], or fault NAME --clear");
        return vesknet::setFault(settings, name, call, code, nth, clear);
    }
    if (showCommand->parsed()) return vesknet::show(settings, json);
    if (checkCommand->parsed()) return vesknet::check(settings);
    if (graphCommand->parsed()) return vesknet::graph(settings, format, output);
    return vesknet::kFailed;
}
