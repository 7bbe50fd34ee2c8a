// Any bytes as a chip list: the loader must finish, keep its invariants and
// answer every query afterwards.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "tests/common/recording_message_service.h"
#include "files/chip_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    zelbo::RecordingMessageService messages;
    zelbo::files::ChipList list;
    list.read(in, messages);
    if (messages.shown().size() > 1) std::abort();
    for (const auto& e : list.entries()) {
        if (e.b == 0.0 || !std::isfinite(e.a) || !std::isfinite(e.b)) std::abort();
    }
    const auto names = list.fillNames(list.entries().empty() ? 0 : list.entries().front().mode);
    if (names.empty()) std::abort();
    list.applySelected(names.front());
    if (list.b() == 0.0 || !std::isfinite(list.b())) std::abort();
    for (int m = 0; m < 4; ++m) (void)list.excitationText(m & 1, m & 2);
    (void)list.chipName();
    return 0;
}
