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
};
