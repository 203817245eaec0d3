// How a render tells the user where it is: a bar on a terminal, a line per
// frame elsewhere, or nothing.
#pragma once

#include <memory>

#include "qzhost/render/render_job.h"

namespace qzhost {

enum class ProgressStyle { Bar, Lines, Quiet };

std::unique_ptr<ProgressDisplay> makeProgressDisplay(ProgressStyle style);

}  // namespace qzhost
