// What a preset may be called. Names reach terminals (`presets list`), the
// web page and preset files, so a stored name is text a person typed: the
// shelf, the command line and import all take names through presetName().
#pragma once

#include <cstddef>
#include <string>

namespace qzhost {

// The longest preset name, in characters.
inline constexpr size_t kMaxPresetName = 100;

// The name with spaces and tabs trimmed from its ends; throws BadRequest
// unless it is valid UTF-8 of 1 to kMaxPresetName characters without control
// characters (C0, DEL or C1, which terminals take as commands).
std::string presetName(const std::string &given);

// The text with each byte that is not valid UTF-8, and each control
// character, replaced by U+FFFD: for text stored before names had a rule, or
// by another program, that must still be shown, listed and exported.
std::string printableText(const std::string &text);

}  // namespace qzhost
