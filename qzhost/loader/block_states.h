// The host's side of the save and load states that the interface keeps
// opaque: the parameter blocks an instance's save writes, and the blocks its
// load reads in order.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "qzhost/base/json.h"

struct SaveState {
    std::vector<qzhost::Json> blocks;
};

struct LoadState {
    const std::vector<qzhost::Json> *blocks;
    size_t next = 0;
    std::string error;  // the text of the last failed load, kept for the caller
    // A pass that reads and judges every block as a load would but takes
    // none. Modules load block by block, so a state is checked this way
    // first, and loaded only when the whole of it passed.
    bool checkOnly = false;
};
