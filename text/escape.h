#pragma once
#include <cstdio>
#include <string>
#include <string_view>

namespace isp {

// Text made safe for a terminal or a line-based file: control characters
// (C0, DEL and C1) shown as "\x1b" and marks of text direction as
// "\u202e", so that a device's name, or a name the user typed, can neither
// command the terminal, nor start a line of its own, nor turn the rest of its
// line around.
inline std::string escapeControls(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  const auto escaped = [&](unsigned code) {
    char text[8];
    std::snprintf(text, sizeof text, code > 0xff ? "\\u%04x" : "\\x%02x", code);
    out += text;
  };
  const auto at = [&](std::size_t i) { return i < utf8.size() ? static_cast<unsigned char>(utf8[i]) : 0u; };
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const unsigned b = at(i);
    // U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069: marks that reorder
    // the text around them, which could make a line read otherwise.
    const unsigned mark = b == 0xE2 && (at(i + 1) == 0x80 || at(i + 1) == 0x81)
                              ? 0x2000 + ((at(i + 1) & 0x3f) << 6) + (at(i + 2) & 0x3f)
                              : 0;
    if (b < 0x20 || b == 0x7F) {
      escaped(b);
    } else if (b == 0xC2 && at(i + 1) >= 0x80 && at(i + 1) < 0xA0) {
      // U+0080 to U+009F: the C1 controls, which some terminals obey too.
      escaped(at(++i));
    } else if (mark == 0x200E || mark == 0x200F || (mark >= 0x202A && mark <= 0x202E) ||
               (mark >= 0x2066 && mark <= 0x2069)) {
      escaped(mark);
      i += 2;
    } else {
      out += utf8[i];
    }
  }
  return out;
}

}  // namespace isp
