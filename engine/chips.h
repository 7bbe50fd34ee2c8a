#pragma once
// The chip list as the drive core takes it: every front end feeds the drive
// the same way from the list file.

#include <vector>

#include "drive/pins.h"
#include "files/chip_list.h"

namespace zelbo::engine {

std::vector<drive::ChipEntry> driveChips(const files::ChipList& list);

} // namespace zelbo::engine
