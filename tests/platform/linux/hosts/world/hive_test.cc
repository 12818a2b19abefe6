// A hive reads back what was written, through every change made in place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/machine/codepage.h"
#include "platform/linux/hosts/world/hive.h"
#include "tools/support/temp_world.h"

namespace {

using Values = std::vector<std::pair<std::string, std::string>>;  // name, then type and data

Values valuesOf(sim::Hive& hive, const sim::RegKey& key) {
    Values values;
    sim::ValueCursor cursor;
    sim::ValueView value;
    for (size_t index = 0; hive.valueAt(key, index, cursor, value); ++index)
        values.emplace_back(std::string(value.name), std::to_string(value.type) + ":" + std::string(value.data));
    return values;
}

// The hive written out and read again, as another run would find it.
void reread(sim::Hive& hive, sim::Hive& again) {
    ASSERT_EQ(sim::parseHive(again, sim::serializeHive(hive)), 0u) << sim::serializeHive(hive);
}

// Every byte but NUL in a value name, every byte a header can carry in a key
// name, and string data with control characters.
TEST(Hive, EveryNameTheRegistryTakesReadsBack) {
    sim::Hive hive;
    bool created = false;
    sim::RegKey& key = hive.create("SOFTWARE", created);
    Values expected;
    for (int byte = 1; byte < 256; ++byte) {
        std::string name = "v" + std::to_string(byte) + static_cast<char>(byte) + "\"\\";
        std::string data = std::string("d") + static_cast<char>(byte) + "\r\n" + '\0';
        hive.setValue(key, name, REG_SZ, data);
        expected.emplace_back(name, "1:" + data);
        std::string keyName = "k" + std::to_string(byte) + static_cast<char>(byte);
        if (sim::isStorableKeyName(keyName)) hive.create("SOFTWARE\\" + keyName, created);
    }
    sim::Hive again;
    reread(hive, again);
    sim::RegKey* reread = again.find("SOFTWARE");
    ASSERT_NE(reread, nullptr);
    EXPECT_EQ(valuesOf(again, *reread), expected);
    const auto& written = hive.subkeysOf(key);
    const auto& read = again.subkeysOf(*reread);
    ASSERT_EQ(read.size(), written.size());
    for (size_t i = 0; i < written.size(); ++i) EXPECT_EQ(read[i]->path, written[i]->path);
}

// Each kind of value line, read into its type and bytes as regedit writes
// them: a DWORD's bytes low first.
TEST(Hive, ReadsEachKindOfValueLine) {
    const struct {
        const char* line;
        std::string value;  // type:data
    } rows[] = {
        {"\"D\"=dword:12345678", std::string("4:\x78\x56\x34\x12", 6)},
        {"\"D\"=dword:fedcba98", "4:\x98\xba\xdc\xfe"},
        {"\"B\"=hex:01,ff", "3:\x01\xff"},
        {"\"M\"=hex(7):61,00,00", std::string("7:a\0\0", 5)},
        {"\"S\"=\"a\\\\b\\\"c\"", std::string("1:a\\b\"c\0", 8)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        sim::Hive hive;
        ASSERT_EQ(sim::parseHive(hive, std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n") + row.line + "\n"), 0u);
        sim::RegKey* key = hive.find("K");
        ASSERT_NE(key, nullptr);
        ASSERT_EQ(valuesOf(hive, *key).size(), 1u);
        EXPECT_EQ(valuesOf(hive, *key)[0].second, row.value);
    }
}

// A value changed at the root key is written back under the root's own
// header, which names no subkey.
TEST(Hive, TheRootKeysValuesWriteBackUnderItsHeader) {
    sim::Hive hive;
    ASSERT_EQ(sim::parseHive(hive, std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\"V\"=\"x\"\n")), 0u);
    sim::RegKey* root = hive.find("");
    ASSERT_NE(root, nullptr);
    hive.setValue(*root, "W", REG_SZ, std::string("y\0", 2));
    EXPECT_EQ(sim::serializeHive(hive), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\"V\"=\"x\"\n\"W\"=\"y\"\n\n");
}

// Random changes to a list read from a file: the values seen in place, and
// read back from the file written, always match a plain model. Lists of
// entries alone (walked without reading their lines), with comments between
// them, with an escaped name, with CRLF line ends.
TEST(Hive, ChangesInPlaceMatchAModel) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 30; ++round) {
        const std::string end = round % 3 == 0 ? "\r\n" : "\n";
        std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\L]" + end;
        Values model;
        int initial = static_cast<int>(random() % 12);
        for (int i = 0; i < initial; ++i) {
            std::string name = "N" + std::to_string(i);
            if (round % 5 == 4 && i == initial / 2) {
                text += "\"Q\\\\" + name + "\"=hex(1):" + end;
                name = "Q\\" + name;
            } else {
                text += "\"" + name + "\"=hex(1):" + end;
            }
            if (round % 2 && i % 4 == 1) text += "; a comment between values" + end;
            model.emplace_back(name, "1:");
        }
        text += "\n[HKEY_LOCAL_MACHINE\\L]\n\"Later\"=dword:00000007\n";  // a key named twice
        model.emplace_back("Later", std::string("4:") + std::string("\x07\0\0\0", 4));
        sim::Hive hive;
        ASSERT_EQ(sim::parseHive(hive, text), 0u);
        for (int op = 0; op < 30; ++op) {
            sim::RegKey* key = hive.find("l");
            ASSERT_NE(key, nullptr);
            std::string name = (random() % 2 ? "n" : "N") + std::to_string(random() % 16);
            if (random() % 8 == 0) name = "later";  // of the key's second header
            auto found = std::find_if(model.begin(), model.end(),
                                      [&](auto& value) { return sim::sameName(value.first, name); });
            if (random() % 3 == 0) {
                EXPECT_EQ(hive.deleteValue(*key, name), found != model.end());
                if (found != model.end()) model.erase(found);
            } else {
                std::string data = "x" + std::to_string(random() % 3) + '\0';
                hive.setValue(*key, name, REG_SZ, data);
                if (found == model.end()) model.emplace_back(name, "1:" + data);
                else found->second = "1:" + data;  // keeps its spelling and place
            }
            ASSERT_EQ(valuesOf(hive, *key), model) << "round " << round << ", change " << op;
            sim::Hive again;
            reread(hive, again);
            ASSERT_EQ(valuesOf(again, *again.find("L")), model) << sim::serializeHive(hive);
        }
    }
}

// Keys are found in any letter case, by lookups one by one and, once there
// are many, through the index; a key only implied by a header below it
// exists; subkeys come in the order the file names them.
TEST(Hive, FindsKeysInAnyCase) {
    std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Only\\Below\\Leaf]\n";
    for (int i = 0; i < 20; ++i) text += "[HKEY_LOCAL_MACHINE\\S\\Key" + std::to_string(i) + "x]\n\n";
    sim::Hive hive;
    ASSERT_EQ(sim::loadHive(hive, sim::FileText::copyOf(text)), 0u);
    for (int i = 0; i < 20; ++i) {
        sim::RegKey* key = hive.find("s\\KEY" + std::to_string(i) + "X");
        ASSERT_NE(key, nullptr) << i;
        EXPECT_EQ(key->path, "S\\Key" + std::to_string(i) + "x");
    }
    EXPECT_NE(hive.find("only\\BELOW"), nullptr);
    EXPECT_EQ(hive.find("S\\Key20x"), nullptr);
    EXPECT_EQ(hive.find("Only\\Bel"), nullptr);
    sim::RegKey* parent = hive.find("S");
    ASSERT_NE(parent, nullptr);
    const auto& subkeys = hive.subkeysOf(*parent);
    ASSERT_EQ(subkeys.size(), 20u);
    EXPECT_EQ(subkeys[19]->path, "S\\Key19x");
}

// A large file is read in stretches, in two halves at once: the headers
// about the middle and at the stretches' edges are all found, whether the
// middle falls on a header's bracket, inside its line or on the line end
// before it.
TEST(Hive, LargeFilesReadInHalvesLoseNoHeader) {
    TempWorld world;
    const std::string path = world.root() + "/large.reg";
    constexpr int kKeys = 460000;
    auto block = [](int i) {
        char text[64];
        std::snprintf(text, sizeof text, "[HKEY_LOCAL_MACHINE\\K%07d]\n\"v\"=\"x\"\n", i);
        return std::string(text);
    };
    const size_t length = block(0).size();
    for (size_t middleAt : {size_t{0}, size_t{7}, length - 1}) {
        // The middle of the file lands `middleAt` bytes into a key's block.
        const std::string start = "REGEDIT4\n\n";
        size_t padding = 2;
        while ((start.size() + padding + kKeys * length) / 2 % length !=
               (middleAt + start.size() + padding) % length)
            ++padding;
        std::string text = start + ";" + std::string(padding - 2, 'p') + "\n";
        for (int i = 0; i < kKeys; ++i) text += block(i);
        ASSERT_GT(text.size(), 16u << 20);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        sim::Hive hive;
        size_t badLine = 99;
        ASSERT_EQ(sim::loadHiveFile(path, hive, badLine), 0);
        EXPECT_EQ(badLine, 0u);
        int middle = static_cast<int>((text.size() / 2 - start.size() - padding) / length);
        for (int i : {0, middle - 2, middle - 1, middle, middle + 1, middle + 2, kKeys - 1}) {
            char name[16];
            std::snprintf(name, sizeof name, "k%07d", i);
            sim::RegKey* key = hive.find(name);
            ASSERT_NE(key, nullptr) << name << ", middle " << middleAt;
            ASSERT_EQ(hive.readValues(*key), 0u);
            sim::ValueView value;
            EXPECT_TRUE(hive.findValue(*key, "V", value)) << name;
        }
    }
}

TEST(Hive, ReportsTheFirstLineThatCannotBeRead) {
    const std::pair<std::string, size_t> kTexts[] = {
        {"", 0},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,\\\n  02\n", 0},
        {"REGEDIT5\n", 1},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:0g\n", 4},
        {"REGEDIT4\n\"v\"=\"no key yet\"\n", 2},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n", 2},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 2},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,\\\n", 3},  // ends inside a continued line
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex(1):\n\"a\"b\"=hex(1):\n", 4},  // a stray quote in a list
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n; \"old\"=hex:01,\\\n\"v\"=hex:zz\n", 4},  // a comment takes no line with it
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01\\\n[HKEY_LOCAL_MACHINE\\B]\n", 3},  // nor a value a header
    };
    for (const auto& [text, line] : kTexts) {
        sim::Hive hive;
        EXPECT_EQ(sim::parseHive(hive, text), line) << text;
    }
}

}  // namespace
