// How VeskCfg's commands grow with the length of a primary's list and with
// the number of stored records, beside the floor of reading and writing the
// same files once. Each figure is the median of several runs of the real
// binary, process start included; each ratio is to the floor on its line.
//
//   veskcfg-scale [--runs N] [--sizes 1000,10000,...] [--strace]
//                 [--vesknet VESKNET [--computers 1000,10000,...]] VESKCFG
//   veskcfg-scale --smb [--runs N] VESKCFG     (beside Samba servers: bench/smb.sh)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tools/support/run_veskcfg.h"
#include "tools/support/temp_world.h"

namespace {

using Clock = std::chrono::steady_clock;

// When a figure passes this, the next size (ten times larger) is not measured.
constexpr double kLimitSeconds = 3;

struct Options {
    std::string binary;
    std::string vesknet;
    std::vector<long> sizes = {1000, 10000, 100000, 1000000};
    std::vector<long> smbSizes = {10, 1000, 10000};  // with --smb, unless --sizes says otherwise
    std::vector<long> computers = {1000, 10000, 100000};
    int runs = 5;
    bool strace = false;
    bool smb = false;
};

struct Run {
    double seconds = 0;
    long peakKb = 0;
    int status = -1;
};

const std::string kListKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n";
const std::string kServersKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Servers";

std::string nameOf(long i) { return "SERVER" + std::to_string(i); }

// Runs argv with standard input and output on /dev/null; the time from fork
// to reaping and the child's peak resident size.
Run runProcess(const std::vector<std::string>& argv) {
    Run run;
    auto started = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        int nothing = open("/dev/null", O_RDWR);
        dup2(nothing, 0);
        dup2(nothing, 1);
        dup2(nothing, 2);
        setsid();  // no controlling terminal: VeskCfg must never prompt here
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    wait4(child, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    run.peakKb = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

struct Figure {
    double seconds = 0;
    long peakKb = 0;
    int status = 0;
    bool measured = false;
};

double medianOf(std::vector<double> seconds) {
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

// The median of `runs` runs; prepare runs before each, untimed.
template <class Once>
Figure median(int runs, Once once, const std::function<void()>& prepare = nullptr) {
    std::vector<double> seconds;
    Figure figure;
    for (int i = 0; i < runs; ++i) {
        if (prepare) prepare();
        Run run = once();
        seconds.push_back(run.seconds);
        figure.peakKb = std::max(figure.peakKb, run.peakKb);
        figure.status = run.status;
    }
    figure.seconds = medianOf(seconds);
    figure.measured = true;
    return figure;
}

// System calls of one run, not counting the writes of its standard output.
long systemCalls(const std::vector<std::string>& argv) {
    std::string log = "/tmp/veskcfg-scale-strace." + std::to_string(getpid());
    std::vector<std::string> traced = {"strace", "-f", "-qq", "-o", log};
    traced.insert(traced.end(), argv.begin(), argv.end());
    if (runProcess(traced).status == 127) return -1;
    std::ifstream file(log);
    long count = 0;
    for (std::string line; std::getline(file, line);)
        if (line.find("write(1,") == std::string::npos && line.find("+++") == std::string::npos &&
            line.find("---") == std::string::npos && line.find("resumed>") == std::string::npos)
            ++count;
    std::remove(log.c_str());
    return count;
}

// A child's peak resident size counts what it held before exec, and a child
// of this process holds copies of large worlds then. So the peak is measured
// by a fresh copy of this program (linked statically, small), which starts
// the command on a pseudo-terminal and prints the peak.
long peakOf(const std::vector<std::string>& argv, const std::string& keys = "") {
    std::vector<std::string> measuring = {"/proc/self/exe", "--peak-of", keys};
    measuring.insert(measuring.end(), argv.begin(), argv.end());
    int result[2];
    if (pipe(result) != 0) return 0;
    pid_t child = fork();
    if (child == 0) {
        dup2(result[1], 1);
        std::vector<char*> args;
        for (const std::string& arg : measuring) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv("/proc/self/exe", args.data());
        _exit(127);
    }
    close(result[1]);
    char text[32] = {};
    ssize_t got = read(result[0], text, sizeof text - 1);
    close(result[0]);
    waitpid(child, nullptr, 0);
    return got > 0 ? std::atol(text) : 0;
}

int measurePeak(int argc, char** argv) {
    RunOptions options;
    if (*argv[2]) options.keys = {argv[2]};
    std::vector<std::string> arguments(argv + 4, argv + argc);
    std::printf("%ld\n", runVeskCfg(argv[3], arguments, options).peakKb);
    return 0;
}

// The copy is flushed before the next timed run, so that the run does not
// wait for its writing out.
void copyFile(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    int fd = open(to.c_str(), O_RDONLY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

long fileKb(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size / 1024) : 0;
}

void line(const char* what, const Figure& figure, const Figure& floor, const char* floorName, long hiveKb,
          long calls = -2) {
    if (!figure.measured) {
        std::printf("  %-30s  not measured: a tenth of this size took over %.0f s\n", what, kLimitSeconds);
        return;
    }
    std::printf("  %-30s %9.1f ms  %6.2fx %-9s  peak %7ld KB = %5.2fx hive", what, figure.seconds * 1e3,
                figure.seconds / floor.seconds, floorName, figure.peakKb,
                hiveKb > 0 ? static_cast<double>(figure.peakKb) / hiveKb : 0.0);
    if (calls >= 0) std::printf("  %6ld syscalls", calls);
    if (figure.status != 0 && figure.status != 5) std::printf("  (exit %d)", figure.status);
    std::printf("\n");
}

// A primary PRIM listing n names, its record stored on ALPHA, and DIST
// attached and listed, for rd.
void listWorld(TempWorld& world, long n) {
    world.addComputer("PRIM", {"admin:pw"});
    world.addComputer("DIST", {"admin:pw"});
    world.storeRecord("PRIM", "PRIM", "admin", "pw", 0);
    world.storeRecord("DIST", "PRIM", "admin", "pw", 1);
    std::string hive = "REGEDIT4\n\n" + kListKey;
    hive.reserve(static_cast<size_t>(n) * 24 + 256);
    for (long i = 0; i < n; ++i) hive.append("\"").append(nameOf(i)).append("\"=hex(1):\n");
    hive += "\"DIST\"=hex(1):\n\n";
    world.write("PRIM/hklm.reg", hive);
}

std::string hexOf(const std::string& bytes) {
    std::string hex;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i ? ",%02x" : "%02x", static_cast<unsigned char>(bytes[i]));
        hex += pair;
    }
    return hex;
}

// ALPHA's store holding n role records of servers attached to PRIM, and
// PRIM's, written as the tool writes them.
void storeWorld(TempWorld& world, long n) {
    world.addComputer("SERVER0", {"admin:pw"});
    world.addComputer("PRIM", {"admin:pw"});
    std::string hive = "REGEDIT4\n\n";
    hive.reserve(static_cast<size_t>(n) * 400 + 256);
    const std::string attached = hexOf(roleRecordBytes("PRIM", 1, "admin", "pw"));
    auto add = [&](const std::string& server, const std::string& hex) {
        std::string key = kServersKey + "\\" + server;
        hive += "[" + key + "]\n\n[" + key + "\\Vesklane]\n\"Slot_1\"=hex:" + hex + "\n\n";
    };
    hive += "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere]\n\n[" + kServersKey + "]\n\n";
    add("PRIM", hexOf(roleRecordBytes("PRIM", 0, "admin", "pw")));
    for (long i = 0; i < n; ++i) add(nameOf(i), attached);
    world.write("ALPHA/hklm.reg", hive);
}

// A run with its keys typed on a pseudo-terminal, timed from its start.
Run typedRun(const std::string& exe, const std::vector<std::string>& args, const std::string& keys,
             const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    RunOptions typed;
    typed.keys = {keys};
    typed.environment = environment;
    typed.limitSeconds = 3600;  // a long list across a slow link
    auto started = Clock::now();
    RunResult result = runVeskCfg(exe.c_str(), args, typed);
    Run run;
    run.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    run.status = result.status;
    return run;
}

void benchList(const Options& options, long n, bool& overLimit) {
    TempWorld world;
    unsetenv("VESKCFG_TRACE");
    listWorld(world, n);
    sync();
    const std::string hive = world.folder("PRIM") + "/hklm.reg";
    const std::string saved = world.root() + "/saved.reg";
    const std::string savedStore = world.root() + "/saved-store.reg";
    const std::string lines = world.root() + "/lines";
    copyFile(hive, saved);
    copyFile(world.folder("ALPHA") + "/hklm.reg", savedStore);
    {
        std::ofstream out(lines);
        for (long i = 0; i < n; ++i) out << "      attached server: " << nameOf(i) << "\n";
    }
    const std::string& exe = options.binary;
    long hiveKb = std::max(1L, fileKb(hive));
    std::printf("\n%ld names: PRIM's hive %ld KB\n", n, hiveKb);

    auto process = [](std::vector<std::string> argv) { return [argv] { return runProcess(argv); }; };
    Figure awk = median(options.runs, process({"awk", "-F\"", "/=hex\\(1\\):/{print \"      attached server: \" $2}", hive}));
    Figure cat = median(options.runs, process({"cat", hive, lines}));
    Figure readWrite = median(options.runs, process({"sh", "-c", "cat \"$0\" >/dev/null && dd if=\"$0\" of=\"$0.copy\" bs=1M conv=fsync status=none", hive}));
    std::printf("  %-30s %9.1f ms\n  %-30s %9.1f ms\n  %-30s %9.1f ms\n", "floor awk (read, print)", awk.seconds * 1e3,
                "floor cat (read, print)", cat.seconds * 1e3, "floor cat+dd fsync (read, write)", readWrite.seconds * 1e3);

    Figure ld, rp, rd, md;
    long ldCalls = -2, rpCalls = -2, rdCalls = -2;
    auto restore = [&] {
        copyFile(saved, hive);
        copyFile(savedStore, world.folder("ALPHA") + "/hklm.reg");
    };
    if (!overLimit) {
        ld = median(options.runs, process({exe, "ld", "PRIM"}));
        rp = median(options.runs, process({exe, "rp", "PRIM"}));
        rd = median(options.runs, process({exe, "rd", "PRIM", "DIST"}), restore);
        int next = 0;
        md = median(options.runs, [&] {
            std::string name = "NEW" + std::to_string(next++);
            world.addComputer(name, {"admin:pw"});
            return typedRun(exe, {"md", "PRIM", name}, "admin\rpw\r");
        }, restore);
        restore();
        ld.peakKb = rp.peakKb = peakOf({exe, "ld", "PRIM"});
        rd.peakKb = peakOf({exe, "rd", "PRIM", "DIST"});
        restore();
        world.addComputer("PEAK", {"admin:pw"});
        md.peakKb = peakOf({exe, "md", "PRIM", "PEAK"}, "admin\rpw\r");
        restore();
        if (options.strace) {
            ldCalls = systemCalls({exe, "ld", "PRIM"});
            rpCalls = systemCalls({exe, "rp", "PRIM"});
            rdCalls = systemCalls({exe, "rd", "PRIM", "DIST"});
            restore();
        }
        overLimit = std::max({ld.seconds, rp.seconds, rd.seconds, md.seconds}) > kLimitSeconds;
    }
    line("ld PRIM (to awk)", ld, awk, "awk", hiveKb, ldCalls);
    line("ld PRIM (to cat)", ld, cat, "cat", hiveKb);
    line("rp PRIM (to awk)", rp, awk, "awk", hiveKb, rpCalls);
    line("rd PRIM DIST", rd, readWrite, "cat+dd", hiveKb, rdCalls);
    line("md PRIM NEW (typed, on a pty)", md, readWrite, "cat+dd", hiveKb);
}

void benchStore(const Options& options, long n, bool& overLimit) {
    TempWorld world;
    unsetenv("VESKCFG_TRACE");
    storeWorld(world, n);
    sync();  // a run's own small flushes must not wait for the world's writing out
    const std::string store = world.folder("ALPHA") + "/hklm.reg";
    long storeKb = std::max(1L, fileKb(store));
    std::printf("\n%ld stored records: ALPHA's hive %ld KB\n", n, storeKb);
    const std::string saved = world.root() + "/saved-store.reg";
    copyFile(store, saved);
    auto restore = [&] { copyFile(saved, store); };
    // The reads first: the writes leave the disk busy for a while.
    Figure cat = median(options.runs, [&] { return runProcess({"cat", store}); });
    Figure lp, mp, md;
    long calls = -2;
    const std::string& exe = options.binary;
    if (!overLimit) {
        lp = median(options.runs, [&] { return runProcess({exe, "lp", "SERVER0"}); });
        lp.peakKb = peakOf({exe, "lp", "SERVER0"});
        if (options.strace) calls = systemCalls({exe, "lp", "SERVER0"});
    }
    Figure readWrite = median(options.runs, [&] {
        return runProcess({"sh", "-c", "cat \"$0\" >/dev/null && dd if=\"$0\" of=\"$0.copy\" bs=1M conv=fsync status=none", store});
    });
    if (!overLimit) {
        int next = 0;
        auto newServer = [&] {
            std::string name = "NEW" + std::to_string(next++);
            world.addComputer(name, {"admin:pw"});
            return name;
        };
        mp = median(options.runs, [&] { return typedRun(exe, {"mp", newServer()}, "admin\rpw\r"); }, restore);
        md = median(options.runs, [&] { return typedRun(exe, {"md", "PRIM", newServer()}, "admin\rpw\r"); }, restore);
        restore();
        world.addComputer("PEAK", {"admin:pw"});
        md.peakKb = peakOf({exe, "md", "PRIM", "PEAK"}, "admin\rpw\r");
        restore();
        overLimit = std::max({lp.seconds, mp.seconds, md.seconds}) > kLimitSeconds;
    }
    std::printf("  %-30s %9.1f ms\n  %-30s %9.1f ms\n", "floor cat (read)", cat.seconds * 1e3,
                "floor cat+dd fsync (read, write)", readWrite.seconds * 1e3);
    line("lp SERVER0", lp, cat, "cat", storeKb, calls);
    line("mp NEW (typed, on a pty)", mp, readWrite, "cat+dd", storeKb);
    line("md PRIM NEW (typed, on a pty)", md, readWrite, "cat+dd", storeKb);
}

void benchStart(const Options& options) {
    TempWorld world;
    unsetenv("VESKCFG_TRACE");
    const int runs = std::max(50, options.runs * 20);
    Figure truth = median(runs, [] { return runProcess({"/bin/true"}); });
    Figure usage = median(runs, [&] { return runProcess({options.binary}); });
    usage.peakKb = peakOf({options.binary});
    std::printf("\nstart-up\n  %-30s %9.3f ms\n", "/bin/true", truth.seconds * 1e3);
    line("VeskCfg (usage text)", usage, truth, "true", 0);
}

// Over PRIM of the lab, whose list holds n names (written with Samba's net,
// untimed), in turn: ld, md of DIST (which shows the list before adding to
// it), and Samba's own net rpc registry enumerate of the same key, each a
// median, ours as ratios to net's. A figure whose first run takes over a
// minute is measured once. A run that fails is counted, not timed.
int benchSmbList(const Options& options, TempWorld& world, const std::string& store, long n) {
    const std::string lab = std::getenv("VESKCFG_SMB_LAB");
    const std::string conf = lab + "/PRIM/smb.conf", client = lab + "/client.conf";
    world.write("client.conf", "[global]\n  name resolve order = host\n  disable netbios = yes\n");
    std::string reg = "REGEDIT4\n\n" + kListKey;
    for (long i = 0; i < n; ++i) reg += "\"" + nameOf(i) + "\"=\"\"\n";
    world.write("list.reg", reg + "\n");
    runProcess({"net", "-s", conf, "registry", "deletekey_recursive", "HKLM\\SOFTWARE\\Tallmere"});
    if (runProcess({"net", "-s", conf, "registry", "import", world.root() + "/list.reg"}).status != 0) {
        std::fprintf(stderr, "veskcfg-scale: net could not write a list of %ld names on PRIM\n", n);
        return 1;
    }
    const std::string listKey = "HKLM\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers";
    struct Measured {
        const char* what;
        std::function<Run()> run;
        std::vector<double> times = {};
        std::map<int, int> failures = {};  // by exit status
        bool once = false;                 // its first run took over a minute
    };
    Measured figures[] = {
        {"ld PRIM", [&] { return runProcess({"env", "VESKCFG_NETWORK=smb", options.binary, "ld", "PRIM"}); }},
        {"md PRIM DIST (typed)",
         [&] {
             world.write("ALPHA/hklm.reg", store);  // untimed: DIST without a record, and out of the list
             runProcess({"net", "-s", conf, "registry", "deletevalue", listKey, "DIST"});
             return typedRun(options.binary, {"md", "PRIM", "DIST"}, "admin\rpw\r", {{"VESKCFG_NETWORK", "smb"}});
         }},
        {"net rpc registry enumerate",
         [&] {
             return runProcess({"net", "-s", client, "rpc", "registry", "enumerate", listKey, "-S", "PRIM", "-U",
                                "admin%pw"});
         }},
    };
    for (int i = 0; i < options.runs; ++i) {
        for (Measured& figure : figures) {
            if (figure.once) continue;
            Run run = figure.run();
            figure.once = run.seconds > 60;
            if (run.status == 0) figure.times.push_back(run.seconds);
            else ++figure.failures[run.status];
        }
    }
    std::printf("\n%ld names in PRIM's list\n", n);
    const std::vector<double>& net = figures[2].times;
    int failed = 0;
    for (const Measured& figure : figures) {
        std::printf("  %-30s", figure.what);
        if (figure.times.empty()) std::printf(" %12s", "-");
        else std::printf(" %9.1f ms", medianOf(figure.times) * 1e3);
        if (&figure != &figures[2] && !figure.times.empty() && !net.empty())
            std::printf("  %6.2fx net", medianOf(figure.times) / medianOf(net));
        if (figure.once && options.runs > 1) std::printf("  (once: a run takes over a minute)");
        for (const auto& [status, count] : figure.failures) std::printf("  %d runs failed with status %d", count, status);
        std::printf("\n");
        failed |= !figure.failures.empty();
    }
    return failed;
}

// md over real servers, PRIM and DIST of the lab scripts/smb-servers.sh
// started (VESKCFG_SMB_LAB, both with admin:pw), beside ld on the world's
// PRIM; the two run in turn, so that both see the same machine.
int benchSmb(const Options& options) {
    const char* lab = std::getenv("VESKCFG_SMB_LAB");
    if (!lab || !*lab) {
        std::fprintf(stderr, "veskcfg-scale: --smb runs beside a lab of Samba servers (bench/smb.sh starts one)\n");
        return 2;
    }
    TempWorld world;
    unsetenv("VESKCFG_TRACE");
    world.addComputer("PRIM", {"admin:pw"});
    world.addComputer("DIST", {"admin:pw"});
    world.storeRecord("PRIM", "PRIM", "admin", "pw", 0);
    world.write("PRIM/hklm.reg", "REGEDIT4\n\n" + kListKey + "\"DIST\"=hex(1):\n\n");
    const std::string store = world.read("ALPHA/hklm.reg");
    const std::string& exe = options.binary;
    const std::vector<std::string> clearList = {"net", "-s", std::string(lab) + "/PRIM/smb.conf", "registry",
                                                "deletekey_recursive", "HKLM\\SOFTWARE\\Tallmere"};
    auto mdOverSmb = [&] {
        // Untimed: each md writes DIST's record anew and adds it to an empty list.
        world.write("ALPHA/hklm.reg", store);
        runProcess(clearList);
        return typedRun(exe, {"md", "PRIM", "DIST"}, "admin\rpw\r", {{"VESKCFG_NETWORK", "smb"}});
    };
    Run first = mdOverSmb();  // Samba starts its winreg service on the first call
    std::vector<double> md, ld;
    int mdStatus = first.status, ldStatus = 0;
    for (int i = 0; i < options.runs; ++i) {
        Run over = mdOverSmb();
        Run local = runProcess({exe, "ld", "PRIM"});
        md.push_back(over.seconds);
        ld.push_back(local.seconds);
        mdStatus = std::max(mdStatus, over.status);
        ldStatus = std::max(ldStatus, local.status);
    }
    double mdSeconds = medianOf(md), ldSeconds = medianOf(ld);
    std::printf("\nmd over Samba beside ld on the world, in turn\n");
    std::printf("  %-36s %9.1f ms%s\n", "first md PRIM DIST over smb", first.seconds * 1e3, first.status ? "  (failed)" : "");
    std::printf("  %-36s %9.1f ms  (%.2f to %.2f)%s\n", "md PRIM DIST over smb (typed)", mdSeconds * 1e3,
                *std::min_element(md.begin(), md.end()) * 1e3, *std::max_element(md.begin(), md.end()) * 1e3,
                mdStatus ? "  (failed)" : "");
    std::printf("  %-36s %9.1f ms%s\n", "ld PRIM on the world", ldSeconds * 1e3, ldStatus ? "  (failed)" : "");
    std::printf("  %-36s %9.1fx\n", "md over smb / ld on the world", mdSeconds / ldSeconds);
    int failed = mdStatus || ldStatus ? 1 : 0;
    for (long n : options.smbSizes) failed |= benchSmbList(options, world, store, n);
    return failed;
}

// A world of n computers, a primary for every hundred with the ninety-nine
// after it listed and attached, every record in the console's store; one
// server in a thousand left with a record its primary does not list.
void networkWorld(TempWorld& world, long n) {
    std::string store = "REGEDIT4\n\n[" + kServersKey + "]\n\n";
    store.reserve(static_cast<size_t>(n) * 400);
    std::string list;
    std::string primary;
    for (long i = 0; i < n; ++i) {
        char name[24];
        std::snprintf(name, sizeof name, "C%06ld", i);
        world.addComputer(name, {"admin:pw"});
        bool isPrimary = i % 100 == 0;
        if (isPrimary) {
            if (!primary.empty()) world.write(primary + "/hklm.reg", list);
            primary = name;
            list = "REGEDIT4\n\n" + kListKey;
        } else if (i % 1000 != 999) {
            list += "\"" + std::string(name) + "\"=hex(1):\n";
        }
        std::string key = kServersKey + "\\" + name;
        store += "[" + key + "]\n\n[" + key + "\\Vesklane]\n\"Slot_1\"=hex:" +
                 hexOf(roleRecordBytes(primary, isPrimary ? 0 : 1, "admin", "pw")) + "\n\n";
    }
    if (!primary.empty()) world.write(primary + "/hklm.reg", list);
    world.write("ALPHA/hklm.reg", store);
}

void benchVesknet(const Options& options, long n, bool& overLimit) {
    TempWorld world;
    unsetenv("VESKCFG_TRACE");
    networkWorld(world, n);
    sync();
    setenv("VESKCFG_WORLD", world.root().c_str(), 1);
    setenv("VESKCFG_COMPUTERNAME", "ALPHA", 1);
    std::printf("\nvesknet, %ld computers\n", n);
    auto process = [](std::vector<std::string> argv) { return [argv] { return runProcess(argv); }; };
    Figure floor = median(options.runs, process({"sh", "-c", "find \"$0\" -type f -exec cat {} + >/dev/null", world.root()}));
    std::printf("  %-30s %9.1f ms\n", "floor find+cat (every file)", floor.seconds * 1e3);
    const std::vector<std::pair<const char*, std::vector<std::string>>> kCommands = {
        {"show", {"show"}}, {"show --json", {"show", "--json"}}, {"check", {"check"}}, {"graph", {"graph"}}};
    for (const auto& [what, arguments] : kCommands) {
        std::vector<std::string> argv = {options.vesknet};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        Figure figure;
        if (!overLimit) {
            figure = median(options.runs, process(argv));
            figure.peakKb = peakOf(argv);
            if (figure.status == 1) figure.status = 0;  // check finds what the world was made with
            overLimit = figure.seconds > kLimitSeconds * 10;
        }
        line(what, figure, floor, "find+cat", 0);
        if (figure.measured) std::printf("  %-30s %9.2f us a computer\n", "", figure.seconds * 1e6 / n);
    }
}

// Every option checked as it is read: a count that is not one is refused,
// never taken as 1 or 0.
int parse(int argc, char** argv, Options& options) {
    CLI::App app{"How VeskCfg's commands, and vesknet's, grow with the size of what they read", "veskcfg-scale"};
    app.add_option("--runs", options.runs, "Runs of each figure, whose median is shown")->check(CLI::Range(1, 1000));
    app.add_option("--sizes", options.sizes, "Names in the list and records in the store, one figure each")
        ->delimiter(',')
        ->check(CLI::Range(1L, 100000000L))
        ->type_name("N,N,...");
    app.add_option("--computers", options.computers, "Computers of the world for vesknet's figures")
        ->delimiter(',')
        ->check(CLI::Range(1L, 10000000L))
        ->type_name("N,N,...");
    app.add_option("--vesknet", options.vesknet, "vesknet, whose subcommands are then measured too")
        ->check(CLI::ExistingFile)
        ->type_name("FILE");
    app.add_flag("--strace", options.strace, "Count each command's system calls as well (needs strace)");
    app.add_flag("--smb", options.smb,
                 "Only md over the Samba servers PRIM and DIST of $VESKCFG_SMB_LAB beside ld on the world, then ld over "
                 "PRIM with lists of 10, 1,000 and 10,000 names, or --sizes (bench/smb.sh)");
    app.add_option("VESKCFG", options.binary, "The VeskCfg program")->required()->check(CLI::ExistingFile)->type_name("FILE");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& asked) {
        app.exit(asked);
        return 0;
    } catch (const CLI::ParseError& wrong) {
        std::fprintf(stderr, "veskcfg-scale: %s (veskcfg-scale --help says how)\n", wrong.what());
        return 2;
    }
    if (app.count("--sizes")) options.smbSizes = options.sizes;
    options.binary = std::filesystem::absolute(options.binary).string();
    if (!options.vesknet.empty()) options.vesknet = std::filesystem::absolute(options.vesknet).string();
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--peak-of") return measurePeak(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    if (int done = parse(argc, argv, options); done >= 0) return done;
    std::printf("%s, median of %d runs; ratios to the floor named on each line\n", options.binary.c_str(), options.runs);
    if (options.smb) return benchSmb(options);
    benchStart(options);
    bool overLimit = false;
    for (long n : options.sizes) benchList(options, n, overLimit);
    overLimit = false;
    for (long n : options.sizes) benchStore(options, n, overLimit);
    overLimit = false;
    if (!options.vesknet.empty())
        for (long n : options.computers) benchVesknet(options, n, overLimit);
    return 0;
}
