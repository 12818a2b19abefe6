// One computer's HKEY_LOCAL_MACHINE in memory, and its REGEDIT4 file form.
//
// Hives grow to hundreds of thousands of keys and values, and most runs look
// at a few keys or walk one list. So loading a hive only finds where each key
// header line stands (and checks that it is one); a key is looked up among
// the headers when a call first asks for it, and its value lines are read
// when a call first needs them. Even then they stay the lines the file holds
// (checked, but not taken apart) until one of them is changed or deleted: a
// walk reads them in place, an added value goes after them. Writing the hive
// copies the file unchanged but for the keys that changed, which are written
// where they stood, and the new keys, which go at its end.
//
// Three layers: the scan of the file's headers (hive_scan.cc), the model of
// keys and values (hive_model.cc), the image written back (hive_image.cc).
//
// Read as regedit imports a file: a key whose header comes twice has the
// values of both; a value named twice (in any letter case) is one value, in
// the first one's place, with the later one's data.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/linux/machine/files.h"
#include "platform/linux/hosts/value_view.h"
#include "platform/win32.h"

namespace sim {

// A value taken apart: its name, then its data, in the hive's byte store.
struct RegValue {
    uint32_t at = 0;
    uint32_t nameLength = 0;  // spelled as created
    uint32_t dataLength = 0;
    DWORD type = REG_NONE;
};

// Some of a key's values, in order: either value lines of the key's text,
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
    std::string path;               // below HKEY_LOCAL_MACHINE, as the file or its creator spelt it; "" for the root
    std::vector<uint32_t> headers;  // its header lines, in file order; none for a key created or only implied
    std::vector<ValuePiece> pieces;  // its values in order, once read
    size_t valueCount = 0;
    bool valuesRead = false;
    size_t badLine = 0;      // not 0: the line of its values that cannot be read; the key is unusable
    bool rewritten = false;  // written from its pieces, not copied from the file
    bool created = false;    // written at the file's end even without values
    uint32_t version = 0;    // counts its changes, so that a walk knows to start again
    // The text its pieces of lines are in: a view of the hive's text, of
    // `lines` (read from the file), or of `ownText` (the bodies of a key
    // given twice); textAt is where it stands in the file when it is one
    // stretch of it.
    std::string_view text;
    FileText lines;
    std::string ownText;
    int64_t textAt = -1;
    std::vector<RegKey*> subkeys;  // in order, once the hive knows every key
    bool linked = false;           // in its parent's subkeys
};

// Where a walk of a key's values stands, so that the next index costs one line.
struct ValueCursor {
    size_t index = 0;      // of the value it stands at
    size_t piece = 0;      // the piece that holds it
    uint32_t within = 0;   // values of that piece before it
    uint32_t offset = 0;   // in a piece of lines: where to look for its line
    uint32_t version = 0;  // of the key when the walk started
    bool valid = false;
};

// A hive written out: stretches of text in order, each of the hive's memory
// or of the file it was read from.
struct HiveImage {
    struct Part {
        enum Kind { Fresh, Text, File } kind;
        std::string_view text;  // Text
        size_t begin, size;     // Fresh: in `fresh`; File: in the file
    };
    std::vector<Part> parts;
    std::string fresh;
    std::vector<FilePart> fileParts(int fileFd) const;
};

class Hive {
public:
    Hive();
    ~Hive();
    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;
    RegKey& root() { return *root_; }

    // The key at path below HKEY_LOCAL_MACHINE (components separated by the
    // backslashes that are characters of their own), compared without regard
    // to case; null when there is none. A key exists when it has a header
    // or a key below it has one. 0 in badLine, or the line of a header that
    // cannot be read, met on the way (the hive is then unusable).
    RegKey* find(std::string_view path);
    // The key, created with its missing parents when there is none; created
    // says which. The names must be storable (isStorableKeyName).
    RegKey& create(std::string_view path, bool& created);
    // The key's direct subkeys: in the order the file first names them, then
    // those created, in their order.
    const std::vector<RegKey*>& subkeysOf(RegKey& key);
    // Not 0 once a header met by find or subkeysOf cannot be read: its line.
    size_t badLine() const { return badHeaderLine_; }

    // Reads the key's values from its lines unless they were read: 0, or the
    // number of the first line that cannot be read (the key is unusable).
    size_t readValues(RegKey& key);

    // The calls below take a key whose values were read.
    // The value at index, or false past the end.
    bool valueAt(const RegKey& key, size_t index, ValueCursor& cursor, ValueView& value);
    // The value of that name (compared without regard to case), or false.
    bool findValue(const RegKey& key, std::string_view name, ValueView& value);
    // Adds a value, or replaces the type and data of the one of that name,
    // which keeps its spelling and its place. False when nothing changed.
    bool setValue(RegKey& key, std::string_view name, DWORD type, std::string_view data);
    // False when the key has no value of that name.
    bool deleteValue(RegKey& key, std::string_view name);

    // The file the hive was read from and is still read from when a key's
    // lines are needed; -1 when the hive holds its whole text.
    int fileFd() const { return fd_; }

    // For the scan and the model. A key header line: where its '[' and
    // its line's end are, the length of its path below HKEY_LOCAL_MACHINE,
    // and a digest of that path's last bytes and length that tells most
    // headers from the one looked for without reading them.
    struct Header {
        uint32_t at;
        uint32_t lineEnd;  // past its line end
        uint32_t length;
        uint32_t digest;
    };
    class Scan;  // finds the headers of a file, or of one stretch of it

private:
    friend size_t loadHive(Hive& hive, FileText text);
    friend LONG loadHiveFile(const std::string& path, Hive& hive, size_t& badLine);
    friend size_t parseHive(Hive& hive, FileText text);
    friend HiveImage imageOf(const Hive& hive);
    friend std::string serializeHive(const Hive& hive);

    // Where a value is: its piece and, in a piece of lines, its line.
    struct Place {
        size_t piece = 0;
        uint32_t within = 0;     // values of the piece before it
        uint32_t lineBegin = 0;  // its line, in a piece of lines
        uint32_t lineEnd = 0;
    };
    void take(Scan& scan);

    std::string_view nameOf(const RegValue& value) const { return {bytes_.data() + value.at, value.nameLength}; }
    std::string_view dataOf(const RegValue& value) const {
        return {bytes_.data() + value.at + value.nameLength, value.dataLength};
    }
    // Bytes [begin, end) of the file: a view of its text, or read into scratch
    // (shorter when the file was cut meanwhile).
    std::string_view fileBytes(size_t begin, size_t end, std::string& scratch) const;
    size_t lineNumberAt(size_t offset) const;
    size_t pathAt(const Header& header) const;
    size_t bodyEnd(size_t header) const;
    size_t checkPreamble();
    std::vector<uint32_t> headersNamed(std::string_view path);
    void buildIndex();
    bool checkHeaderPath(uint32_t header, std::string& path);
    void learnImpliedKeys();
    void learnEveryKey();
    RegKey& keep(std::string_view path, std::string upper, std::vector<uint32_t> headers);
    size_t readBody(RegKey& key, size_t begin, size_t end, size_t fileBegin);
    void mergeRepeatedNames(RegKey& key);
    RegValue storeValue(std::string_view name, DWORD type, std::string_view data);
    // Reads the value at the cursor and moves the cursor to the next one.
    bool step(const RegKey& key, ValueCursor& cursor, ValueView& value);
    bool find(const RegKey& key, std::string_view name, Place& place);
    bool valueAt(const RegKey& key, const Place& place, ValueView& value);
    // Replaces the value at place by `replacement` pieces (none: deleted).
    void splice(RegKey& key, const Place& place, const std::vector<ValuePiece>& replacement);
    void changed(RegKey& key);

    FileText text_;      // the whole file, when it is held
    int fd_ = -1;        // else the file, open
    uint32_t size_ = 0;  // of the file
    bool signed_ = false;  // it starts with the REGEDIT4 line
    std::vector<Header> headers_;
    std::vector<uint32_t> unproven_;  // headers whose parent key may have none
    std::vector<uint32_t> index_;     // headers by digest, open addressing; empty until many lookups
    size_t lookups_ = 0;
    bool impliedKnown_ = false;
    bool everyKeyKnown_ = false;
    size_t badHeaderLine_ = 0;
    std::string bytes_;
    std::string name_, data_, joined_;  // the value last read from a line
    std::vector<uint64_t> nameHashes_;  // of the values of the key being read
    mutable std::string scratch_;
    std::unique_ptr<RegKey> rootKey_;
    RegKey* root_ = nullptr;
    // Every key looked up or created, by its upper-cased path.
    std::unordered_map<std::string, std::unique_ptr<RegKey>> keys_;
    std::unordered_set<std::string> absent_;  // upper-cased paths looked up in vain
    std::vector<RegKey*> createdOrder_;      // keys without a header that are written at the end
    std::vector<RegKey*> rewrittenKeys_;
};

// Takes a REGEDIT4 export as the hive's text and finds its key headers. 0
// when it can be read that far; otherwise the number of the first line that
// cannot be read (the hive is then unusable). A key's own lines are read when
// a call needs them.
size_t loadHive(Hive& hive, FileText text);
// The same from the file at path; only a small file is held whole, a large
// one is read in stretches that stay in the cache while their headers are
// found. 0, with badLine as loadHive returns it, or the code of why the file
// cannot be read. A file of 4 GiB or more is refused (ERROR_BADDB, said on
// standard error).
LONG loadHiveFile(const std::string& path, Hive& hive, size_t& badLine);
// Loads the text and reads every key: 0, or the first line that cannot be read.
size_t parseHive(Hive& hive, std::string_view text);
size_t parseHive(Hive& hive, FileText text);

// The file that holds the hive as it is now.
HiveImage imageOf(const Hive& hive);
std::string serializeHive(const Hive& hive);

// True when name can be a key name in a hive file: not empty, no backslash
// and no control character, which the header line could not carry.
bool isStorableKeyName(std::string_view name);

}  // namespace sim
