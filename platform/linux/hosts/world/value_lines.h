// The value lines of a REGEDIT4 file: `"name"=...` or `@=...`, hex data
// going on over lines that end in a backslash, comments (`;`) and blank
// lines between them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/linux/hosts/world/hive.h"
#include "platform/win32.h"

namespace sim {

bool isValueLine(std::string_view line);

// The next line with its continuations joined (in `joined`); cut when the
// text ends while the line goes on.
std::string_view nextLogicalLine(std::string_view text, size_t& offset, std::string& joined, bool& cut);
std::string_view nextLogicalLine(std::string_view text, size_t& offset, std::string& joined);

// Reads the line at offset when it is a list entry with nothing escaped,
// `"NAME"=hex(1):`, the bulk of a large hive, and moves offset past its line
// end. False, offset unmoved, for any other line.
bool readPlainEntry(std::string_view text, size_t& offset, std::string_view& name);
// The name of an entry that reads as plain.
std::string_view entryName(std::string_view line);

// Reads a value line; the views are of the line or of the buffers.
bool readValue(std::string_view line, ValueView& value, std::string& nameBuffer, std::string& dataBuffer);
// Just the name of a value line, for a search by name.
bool readValueName(std::string_view line, std::string& buffer, std::string_view& name);
// The next value line at or after offset, before end, and where it starts;
// offset moves past it.
bool nextValueLine(std::string_view text, size_t& offset, size_t end, std::string& joined, std::string_view& line,
                   size_t& start);

// Appends the value's line, "\n" included: a name or text with backslashes,
// quotes or control characters escaped, so that it reads back as written.
void appendValue(std::string& out, std::string_view name, DWORD type, std::string_view data);

}  // namespace sim
