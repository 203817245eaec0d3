// The preset shelf: the instance's subscription callbacks, the panel's two
// preset buttons, and the thumbnail a preset is stored with.
#pragma once

#include "filter/instance.h"
#include "host/abi.h"

namespace vorlux {

int shelfQuery(void *client, void *query);
void shelfLoad(void *inst, const LoadState *state);
const char *shelfSave(void *inst, const SaveState *state);
void openShelfButton(void *panel, int id);
void addPresetButton(void *panel, int id);

inline constexpr int kThumbnailSize = 128;

// Renders the instance's view into a new host image, or null without the
// image service. The instance's own steps are left as they were.
void *makeThumbnail(const FilterInstance &inst, int w, int h);

}  // namespace vorlux
