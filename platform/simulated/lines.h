// The lines of a world file's text, each without its "\n" or "\r\n".
#pragma once

#include <ranges>
#include <string_view>

namespace sim {

inline auto linesOf(std::string_view text) {
    return text | std::views::split('\n') | std::views::transform([](auto part) {
               std::string_view line(part.begin(), part.end());
               if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
               return line;
           });
}

}  // namespace sim
