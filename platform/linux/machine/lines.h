// The lines of a world file's text, each without its "\n" or "\r\n", and the
// hex digits that its escapes are written in.
#pragma once

#include <cstddef>
#include <string_view>

namespace sim {

// The line at offset; offset moves past it and its line end.
inline std::string_view nextLine(std::string_view text, size_t& offset) {
    size_t end = text.find('\n', offset);
    size_t next = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(offset, (end == std::string_view::npos ? text.size() : end) - offset);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    offset = next;
    return line;
}

// 0-15, or -1 for a character that is no hex digit.
inline int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// for (std::string_view line : LinesOf(text)) ...
class LinesOf {
public:
    explicit LinesOf(std::string_view text) : text_(text) {}

    class Iterator {
    public:
        Iterator(std::string_view text, size_t offset) : text_(text), offset_(offset) { advance(); }
        std::string_view operator*() const { return line_; }
        Iterator& operator++() {
            advance();
            return *this;
        }
        bool operator!=(const Iterator& other) const { return done_ != other.done_; }

    private:
        void advance() {
            done_ = offset_ >= text_.size();
            if (!done_) line_ = nextLine(text_, offset_);
        }
        std::string_view text_;
        size_t offset_;
        std::string_view line_;
        bool done_ = false;
    };

    Iterator begin() const { return Iterator(text_, 0); }
    Iterator end() const { return Iterator(text_, text_.size()); }

private:
    std::string_view text_;
};

}  // namespace sim
