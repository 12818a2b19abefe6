// libFuzzer target for the hive reader and writer (scripts/fuzz.sh). A hive
// the reader accepts is written back and read again to the same tree, and
// writing it once more changes nothing; lists read in bulk read as they do
// line by line; a hive it refuses keeps its text whole through the registry
// calls.
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/linux/hosts/world/hive.h"
#include "platform/win32.h"

namespace {

void dumpKey(sim::Hive& hive, sim::RegKey& key, std::string& out) {
    out += "[" + key.path + "]\n";
    sim::ValueCursor cursor;
    sim::ValueView value;
    for (size_t index = 0; hive.valueAt(key, index, cursor, value); ++index) {
        out += std::string(value.name) + "=" + std::to_string(value.type) + ":" + std::string(value.data) + "\n";
    }
    for (sim::RegKey* child : hive.subkeysOf(key)) dumpKey(hive, *child, out);
}

std::string dump(sim::Hive& hive) {
    std::string out;
    dumpKey(hive, hive.root(), out);
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

// A world of one computer, ALPHA, for the refused hives.
const std::string& world() {
    static const std::string root = [] {
        char pattern[] = "/tmp/veskcfg-fuzz-XXXXXX";
        std::string made = mkdtemp(pattern);
        mkdir((made + "/ALPHA").c_str(), 0700);
        setenv("VESKCFG_WORLD", made.c_str(), 1);
        setenv("VESKCFG_COMPUTERNAME", "ALPHA", 1);
        return made;
    }();
    return root;
}

// The same hive with a comment after every header, which reads every value
// line by line: it must read as the hive itself does.
std::string withCommentsAfterHeaders(std::string_view text) {
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        out.append(line);
        if (end == std::string_view::npos) break;
        out += '\n';
        if (line.starts_with('[') && !line.ends_with('\\')) out += ";\n";
        start = end + 1;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    sim::Hive hive, lineByLine;
    bool read = sim::parseHive(hive, text) == 0;
    if ((sim::parseHive(lineByLine, withCommentsAfterHeaders(text)) == 0) != read) __builtin_trap();
    if (read) {
        if (dump(lineByLine) != dump(hive)) __builtin_trap();
        std::string written = sim::serializeHive(hive);
        sim::Hive again;
        if (sim::parseHive(again, written) != 0) __builtin_trap();
        if (dump(again) != dump(hive)) __builtin_trap();
        if (sim::serializeHive(again) != written) __builtin_trap();
        return 0;
    }
    const std::string path = world() + "/ALPHA/hklm.reg";
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
    HKEY key = nullptr;
    LONG code = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Fuzz", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr);
    if (code == ERROR_SUCCESS) RegCloseKey(key);
    // Unreadable headers: the file is left alone. Unreadable values only: the
    // key is added after the file's own text, which is kept whole.
    std::string after = readFile(path);
    bool leftAlone = code == ERROR_BADDB && after == text;
    bool kept = code == ERROR_SUCCESS && after.starts_with(text) && after != text;
    if (!leftAlone && !kept) __builtin_trap();
    return 0;
}
