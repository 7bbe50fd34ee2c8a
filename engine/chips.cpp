#include "engine/chips.h"

namespace zelbo::engine {

std::vector<drive::ChipEntry> driveChips(const files::ChipList& list)
{
    std::vector<drive::ChipEntry> chips;
    for (const files::ChipEntry& e : list.entries()) {
        drive::ChipEntry c;
        c.mode = e.mode;
        c.name = e.name;
        c.a = e.a;
        c.b = e.b;
        c.excitationNames = e.excitation;
        chips.push_back(std::move(c));
    }
    return chips;
}

} // namespace zelbo::engine
