// The Linux program's bitmaps: the res/ files compiled into the program (the portable
// build's source), as the Windows program reads the same files from its resources.
#pragma once

#include "render/embedded_source.h"

namespace tonalis::lnx {

using LinuxBitmapSource = EmbeddedBitmapSource;

}  // namespace tonalis::lnx
