// Any bytes as a settings file: reading and loading them (both stages) must
// finish without a crash, and what the cores hold afterwards must save as a
// complete, well-formed file again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "drive/drive_core.h"
#include "files/settings_core.h"
#include "files/settings_file.h"
#include "link/null_command_port.h"
#include "scope/scope_core.h"

namespace {

class NoMessages final : public zelbo::MessageService {
public:
    zelbo::MsgAnswer show(const zelbo::Message&) override { return zelbo::MsgAnswer::Ok; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace zelbo;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto lines = files::parseSettings(bytes);
    for (const auto& l : lines) {
        if (l.value.find('\n') != std::string::npos || l.comment.find('\n') != std::string::npos) std::abort();
        if (l.value.find('\t') != std::string::npos) std::abort();
    }

    link::NullCommandPort port;
    NoMessages messages;
    drive::DriveCore drive(port, messages);
    drive.reset();
    scope::ScopeCore scope(port);
    scope.applyDefaults();
    files::SettingsHooks hooks;
    hooks.boardReady = [] { return true; };
    files::SettingsCore core(drive, scope, port, hooks);
    const auto r = core.apply(lines);
    if (!r.opened || r.valueLines != static_cast<int>(lines.size())) std::abort();
    if (r.missingLine != 0 && r.missingLine <= r.valueLines) std::abort();

    const std::string saved = files::formatSettings(core.collect());
    if (files::parseSettings(saved).size() > static_cast<std::size_t>(files::kSettingsValueLines)) std::abort();
    return 0;
}
