// A fresh folder for one test, removed afterwards.
#pragma once

#include "tests/support/scratch_folder.h"

namespace reel::test {

using TestFolder = ScratchFolder;

}  // namespace reel::test
