// The smb module refuses, when loaded, a Samba laid out otherwise than it was
// built for, and says how; one laid out as it was built for passes. Each row
// loads the checks over a stand-in Samba in a process of its own, as a run
// loads the module once.
#include <gtest/gtest.h>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

// What problem() answers over the stand-in laid out as misfit says, or how
// the process that asked ended.
std::string problemOver(int misfit, const char* standin = SAMBA_STANDIN_MODULE) {
    int answer[2];
    if (pipe(answer) != 0) return "no pipe";
    pid_t child = fork();
    if (child == 0) {
        close(answer[0]);
        void* module = dlopen(standin, RTLD_NOW);
        auto* chosen = module ? static_cast<int*>(dlsym(module, "standinMisfit")) : nullptr;
        auto* problem = module ? reinterpret_cast<const char* (*)()>(dlsym(module, "problem")) : nullptr;
        if (!chosen || !problem) _exit(2);
        *chosen = misfit;
        const char* said = problem();
        std::string text = said ? said : "(none)";
        bool written = write(answer[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        dlclose(module);  // unloaded, as its destructors, a coverage build's counts among them, want
        _exit(written ? 0 : 3);
    }
    close(answer[1]);
    std::string text;
    char buffer[512];
    for (ssize_t got; (got = read(answer[0], buffer, sizeof buffer)) > 0;) text.append(buffer, got);
    close(answer[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "ended with status " + std::to_string(status);
    return text;
}

TEST(ModuleChecks, RefuseASambaLaidOutOtherwise) {
    const std::string misfit = "libcli's composite_context is not laid out as this module was built for";
    auto request = [](const char* name, int opnum) {
        return "Samba's winreg table does not have " + std::string(name) + " as request " + std::to_string(opnum) +
               " of ";
    };
    const struct {
        const char* layout;
        std::string problem;  // a prefix of what problem() says
    } rows[] = {  // in the order of the stand-in's misfits, whose number each row is
        {"as built for", "(none)"},
        {"dcerpc_init fails", "Samba's client libraries could not be started"},
        {"no settings made", "Samba's client libraries could not be started"},
        {"SetValue named otherwise", request("winreg_SetValue", 22)},
        {"CloseKey with no name", request("winreg_CloseKey", 5)},
        {"EnumValue larger", request("winreg_EnumValue", 10)},
        {"OpenKey smaller", request("winreg_OpenKey", 15)},
        {"the table ends before SetValue", request("winreg_SetValue", 22)},
        {"a second composite not made", misfit},
        {"a composite done keeps its state", misfit},
    };
    for (int misfitNumber = 0; misfitNumber < static_cast<int>(std::size(rows)); ++misfitNumber) {
        const auto& row = rows[misfitNumber];
        std::string said = problemOver(misfitNumber);
        EXPECT_EQ(said.substr(0, row.problem.size()), row.problem) << row.layout << ": " << said;
    }
    EXPECT_EQ(problemOver(0, SAMBA_STANDIN_UNCREATED_MODULE), misfit) << "no composite_create";
}

}  // namespace
