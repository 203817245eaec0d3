// The hint list is read from a module's memory: whatever words it holds, the
// reader must stay within its cap and never misread a tag's arguments.
// (Callbacks are only stored, never called, while reading.)
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qzhost/services/panel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < sizeof(intptr_t)) return 0;
    // The words repeat to fill the whole cap, so that lists without their
    // terminator are read up to the cap and no further.
    std::vector<intptr_t> words(qzhost::kMaxHintWords);
    const size_t given = size / sizeof(intptr_t);
    for (size_t i = 0; i < words.size(); ++i) std::memcpy(&words[i], data + (i % given) * sizeof(intptr_t), sizeof(intptr_t));
    // A title's text is a pointer into the module, the one argument the reader
    // follows; every word that could be one points at real text here.
    static const char title[] = "Fuzzed";
    for (size_t i = 0; i + 2 < words.size(); ++i) {
        if (words[i] == HOST_HINT_TITLE) words[i + 2] = reinterpret_cast<intptr_t>(title);
    }
    qzhost::PanelHints hints;
    qzhost::readHints(words.data(), hints);
    return 0;
}
