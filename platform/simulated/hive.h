// One computer's HKEY_LOCAL_MACHINE in memory, and its REGEDIT4 file form.
//
// Hives grow to hundreds of thousands of keys and values, and most runs only
// look at a few of them or walk one list in order. So a loaded hive keeps the
// file's text, and each key's values stay the lines the file holds (checked,
// but not taken apart) until one of them is changed or deleted: walking a
// list reads its lines in place, an added value goes after them, and writing
// the hive back copies the lines unchanged. Values taken apart keep their
// names and data in one byte store of the hive.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/simulated/files.h"
#include "platform/win32.h"

namespace sim {

// A value taken apart: its name, then its data, in the hive's bytes.
struct RegValue {
    uint32_t at = 0;
    uint32_t nameLength = 0;  // spelled as created
    uint32_t dataLength = 0;
    DWORD type = REG_NONE;
};

// Some of a key's values, in order: either value lines of the hive's text,
// [begin, end), holding `count` values, or one value taken apart.
struct ValuePiece {
    uint32_t begin = 0;
    uint32_t end = 0;
    uint32_t count = 0;  // 0: the piece is `value`
    RegValue value;
    // Lines that are all list entries, `"NAME"=hex(1):` with nothing escaped,
    // one to a line: a walk takes the name without reading the line.
    bool entriesOnly = false;
    bool isLines() const { return count > 0; }
    uint32_t size() const { return count ? count : 1; }
};

struct RegKey {
    std::string name;                              // spelled as created
    std::vector<std::unique_ptr<RegKey>> subkeys;  // in creation order
    std::vector<ValuePiece> pieces;                // its values, in creation order
    size_t valueCount = 0;

    RegKey* findSubkey(std::string_view wanted);
    RegKey& subkey(std::string_view wanted, bool& created);

private:
    // Upper-cased name to subkey, once there are enough subkeys to need it.
    std::unique_ptr<std::unordered_map<std::string, RegKey*>> index_;
};

// One value as a call sees it; the views last until the next call on the hive.
struct ValueView {
    std::string_view name;
    DWORD type = REG_NONE;
    std::string_view data;
};

// Where a walk of a key's values stands, so that the next index costs one line.
struct ValueCursor {
    size_t index = 0;     // of the value it stands at
    size_t piece = 0;     // the piece that holds it
    uint32_t within = 0;  // values of that piece before it
    uint32_t offset = 0;  // in a piece of lines: where to look for its line
    bool valid = false;
};

class Hive {
public:
    RegKey root;

    // The value at index, or false past the end.
    bool valueAt(const RegKey& key, size_t index, ValueCursor& cursor, ValueView& value);
    // The value of that name (compared without regard to case), or false.
    bool findValue(const RegKey& key, std::string_view name, ValueView& value);
    // Adds a value, or replaces the type and data of the one of that name,
    // which keeps its spelling and its place. False when nothing changed.
    bool setValue(RegKey& key, std::string_view name, DWORD type, std::string_view data);
    // False when the key has no value of that name.
    bool deleteValue(RegKey& key, std::string_view name);

private:
    friend size_t parseHive(Hive& hive, FileText text);
    friend std::string serializeHive(const Hive& hive);

    // Where a value is: its piece and, in a piece of lines, its line.
    struct Place {
        size_t piece = 0;
        uint32_t within = 0;     // values of the piece before it
        uint32_t lineBegin = 0;  // its line, in a piece of lines
        uint32_t lineEnd = 0;
    };

    std::string_view nameOf(const RegValue& value) const { return {bytes_.data() + value.at, value.nameLength}; }
    std::string_view dataOf(const RegValue& value) const {
        return {bytes_.data() + value.at + value.nameLength, value.dataLength};
    }
    RegValue storeValue(std::string_view name, DWORD type, std::string_view data);
    // Reads the value at the cursor and moves the cursor to the next one.
    bool step(const RegKey& key, ValueCursor& cursor, ValueView& value);
    bool find(const RegKey& key, std::string_view name, Place& place);
    bool valueAt(const RegKey& key, const Place& place, ValueView& value);
    // Replaces the value at place by `replacement` pieces (none: deleted).
    void splice(RegKey& key, const Place& place, const std::vector<ValuePiece>& replacement);

    FileText text_;
    std::string bytes_;
    std::string name_, data_, joined_;  // the value last read from a line
};

// Reads a REGEDIT4 export into hive, which keeps the text. 0 when it was
// read; otherwise the number of the first line that cannot be read (the hive
// is then unusable).
size_t parseHive(Hive& hive, FileText text);
size_t parseHive(Hive& hive, std::string_view text);
std::string serializeHive(const Hive& hive);

// True when name can be a key name in a hive file: not empty, no backslash
// and no control character, which the header line could not carry.
bool isStorableKeyName(std::string_view name);

}  // namespace sim
