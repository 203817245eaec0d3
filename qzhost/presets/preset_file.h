// A preset as a portable file: a PNG of its thumbnail that carries the
// preset's settings in a text chunk, so any image viewer shows what it is.
#pragma once

#include <vector>

#include "qzhost/presets/preset_store.h"

namespace qzhost {

std::vector<unsigned char> presetFileOf(const Preset &preset);

// Throws HostError naming the source and what is wrong; nothing is stored
// by reading a file.
Preset presetFromFile(const std::vector<unsigned char> &bytes, const std::string &source);

}  // namespace qzhost
