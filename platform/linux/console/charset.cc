#include "platform/linux/console/charset.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/linux/machine/codepage.h"

namespace sim {

namespace {

// What the locale's character set is to the console.
enum class Charset {
    kBytes,     // C or POSIX: bytes, whatever the terminal makes of them
    kCodePage,  // the code page itself: bytes pass, and mean what they mean there
    kUtf8,
    kOther,     // converted through UTF-8 with iconv
};

struct LocaleCharset {
    Charset kind;
    std::string name;  // nl_langinfo(CODESET)'s
};

bool isTheCodePage(const std::string& name) {
    if (ansiCodePage() == 932) return name == "CP932" || name == "WINDOWS-31J" || name == "SHIFT_JIS";
    return name == "CP1252" || name == "WINDOWS-1252";
}

// Read once, from the environment, without setting the program's own
// locale: nothing else the program does (its numbers, its case mapping,
// which follows the code page) may change with it. Never destroyed:
// standard output's last flush, after the static objects are gone, needs it.
const LocaleCharset& localeCharset() {
    static const LocaleCharset& found = *new LocaleCharset([] {
        locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
        if (!locale) return LocaleCharset{Charset::kBytes, "ANSI_X3.4-1968"};  // one not installed is C, as for every program
        std::string name = nl_langinfo_l(CODESET, locale);
        freelocale(locale);
        if (name == "UTF-8") return LocaleCharset{Charset::kUtf8, name};
        if (name == "ANSI_X3.4-1968") return LocaleCharset{Charset::kBytes, name};
        if (isTheCodePage(name)) return LocaleCharset{Charset::kCodePage, name};
        return LocaleCharset{Charset::kOther, name};
    }());
    return found;
}

// Text through iconv, whole; false at the first thing that does not convert.
// incomplete: the text ends inside a character.
bool convertWhole(const char* to, const char* from, std::string_view text, std::string& out, bool* incomplete = nullptr) {
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in(text);
    out.assign(text.size() * 4 + 8, '\0');
    char* source = in.data();
    char* target = out.data();
    size_t sourceLeft = in.size(), targetLeft = out.size();
    bool whole = iconv(converter, &source, &sourceLeft, &target, &targetLeft) != static_cast<size_t>(-1);
    if (incomplete) *incomplete = !whole && errno == EINVAL;
    iconv_close(converter);
    explicit_bzero(in.data(), in.size());  // it may be a password
    out.resize(out.size() - targetLeft);
    return whole;
}

// UTF-8 in the locale's other character set; '?' for what it lacks.
std::string utf8ToOther(std::string_view text) {
    std::string out, one;
    if (convertWhole(localeCharset().name.c_str(), "UTF-8", text, out)) return out;
    out.clear();
    for (size_t at = 0; at < text.size();) {
        size_t length = 1;
        while (at + length < text.size() && (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80) ++length;
        out += convertWhole(localeCharset().name.c_str(), "UTF-8", text.substr(at, length), one) ? one : "?";
        at += length;
    }
    return out;
}

// How many bytes a UTF-8 character that begins with lead takes; 0 for a
// byte that begins none.
size_t utf8Length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

}  // namespace

bool consoleConverts() {
    Charset kind = localeCharset().kind;
    return kind == Charset::kUtf8 || kind == Charset::kOther;
}

bool localeToAnsi(std::string_view text, std::string& out, char32_t& lacking) {
    if (!consoleConverts()) {
        out.assign(text);
        return true;
    }
    if (localeCharset().kind == Charset::kUtf8) return utf8ToAnsiExactly(text, out, lacking);
    std::string utf8;
    bool converted = convertWhole("UTF-8", localeCharset().name.c_str(), text, utf8);
    if (!converted) lacking = kNoCharacter;
    converted = converted && utf8ToAnsiExactly(utf8, out, lacking);
    explicit_bzero(utf8.data(), utf8.size());
    return converted;
}

std::string ansiToLocale(std::string_view text) {
    if (!consoleConverts()) return std::string(text);
    std::string utf8 = ansiToUtf8OrMark(text);
    return localeCharset().kind == Charset::kUtf8 ? utf8 : utf8ToOther(utf8);
}

std::string lackingText(char32_t lacking) {
    if (lacking >= kNoCharacter) return "bytes that are no " + localeCharset().name + " text";
    char text[96];
    std::snprintf(text, sizeof text, "U+%04X, which code page %d cannot hold", static_cast<unsigned>(lacking),
                  ansiCodePage());
    return text;
}

bool showsAsControl(unsigned char byte) {
    if (byte < 0x20 || byte == 0x7F) return true;
    if (byte < 0x80) return false;
    if (localeCharset().kind == Charset::kBytes) return byte <= 0x9F;
    if (isLeadByte(byte)) return false;  // its pair is one character
    std::string utf8;
    if (!ansiToUtf8(std::string(1, static_cast<char>(byte)), utf8)) return false;  // it goes out as '?'
    return utf8.size() == 2 && static_cast<unsigned char>(utf8[0]) == 0xC2 && static_cast<unsigned char>(utf8[1]) <= 0x9F;
}

TypedCharacter typedCharacter(std::string_view bytes, std::string& ansi, char32_t& lacking) {
    if (localeCharset().kind == Charset::kUtf8) {
        size_t length = utf8Length(static_cast<unsigned char>(bytes[0]));
        if (length > bytes.size()) return TypedCharacter::kPartial;
        if (length == bytes.size() && utf8ToAnsiExactly(bytes, ansi, lacking)) return TypedCharacter::kWhole;
        if (length != bytes.size()) lacking = kNoCharacter;
        return TypedCharacter::kRefused;
    }
    std::string utf8;
    bool incomplete = false;
    TypedCharacter read = TypedCharacter::kRefused;
    if (convertWhole("UTF-8", localeCharset().name.c_str(), bytes, utf8, &incomplete))
        read = utf8ToAnsiExactly(utf8, ansi, lacking) ? TypedCharacter::kWhole : TypedCharacter::kRefused;
    else if (incomplete && bytes.size() < 8)
        read = TypedCharacter::kPartial;
    else
        lacking = kNoCharacter;
    explicit_bzero(utf8.data(), utf8.size());
    return read;
}

namespace {

// Standard output's stream once converted: what it is given goes out
// converted on file descriptor 1, a lead byte whose trail has not come yet
// held until it comes. Standard output is flushed for the last time after
// the static objects are gone: nothing here needs destroying.
char heldLead = 0;  // 0: none

bool writeAll(int fd, const std::string& bytes) {
    for (size_t written = 0; written < bytes.size();) {
        ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        written += static_cast<size_t>(count);
    }
    return true;
}

ssize_t writeConverted(void*, const char* buffer, size_t size) {
    std::string text = (heldLead ? std::string(1, heldLead) : std::string()) + std::string(buffer, size);
    heldLead = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        if (!isLeadByte(static_cast<unsigned char>(text[at]))) continue;
        if (at + 1 == text.size()) {
            heldLead = text[at];
            text.resize(at);
            break;
        }
        ++at;
    }
    return writeAll(STDOUT_FILENO, ansiToLocale(text)) ? static_cast<ssize_t>(size) : -1;
}

}  // namespace

void convertStandardOutput() {
    if (!consoleConverts()) return;
    cookie_io_functions_t functions = {nullptr, writeConverted, nullptr, nullptr};
    FILE* converted = fopencookie(nullptr, "w", functions);
    if (!converted) return;
    std::fflush(stdout);
    setvbuf(converted, nullptr, isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, BUFSIZ);
    stdout = converted;
}

}  // namespace sim
