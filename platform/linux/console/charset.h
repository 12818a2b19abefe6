// The console's edge on Linux. The program speaks the ANSI code page, as it
// does on Windows, where the console converts; here the terminal, the
// command line and the standard streams speak the locale's character set
// (LC_ALL, LC_CTYPE, LANG), and text is converted as it crosses. In the C
// or POSIX locale, or one whose character set is the code page, bytes pass
// as they are.
#pragma once

#include <string>
#include <string_view>

namespace sim {

// What `lacking` holds for bytes that are no character at all.
constexpr char32_t kNoCharacter = 0x110000;

// False when bytes pass as they are.
bool consoleConverts();

// A text of the locale in the code page; false when it holds bytes that are
// no text of the locale, or a character the code page lacks, which is then
// in `lacking` (0x110000 for bytes that are no character).
bool localeToAnsi(std::string_view text, std::string& out, char32_t& lacking);

// A text of the code page as the locale writes it; a byte that converts to
// nothing there is written '?'.
std::string ansiToLocale(std::string_view text);

// Why such a text is refused, for a line on standard error: "U+65E5, which
// code page 1252 cannot hold" or "bytes that are no UTF-8 text".
std::string lackingText(char32_t lacking);

// Whether a byte of the code page reaches a terminal of the locale as a
// control character (C0, DEL or C1), which a name must not send it: in the
// C locale every byte from 0x80 to 0x9F is one, in another the code page's
// bytes whose character is.
bool showsAsControl(unsigned char byte);

// The bytes a terminal sent for one typed character, from its first on.
enum class TypedCharacter { kWhole, kPartial, kRefused };
TypedCharacter typedCharacter(std::string_view bytes, std::string& ansi, char32_t& lacking);

// From here on, standard output goes out converted: what the program
// writes in the code page reaches the terminal, pipe or file in the
// locale's character set.
void convertStandardOutput();

}  // namespace sim
