#pragma once
// zelbo-cli campaign PLAN [--db FILE] [--resume] [--chamber-port PORT]
// zelbo-cli report DB [-o FILE]

#include <optional>
#include <string>
#include <vector>

namespace zelbo::cli {

int campaignCommand(const std::vector<std::string>& args, std::optional<bool> sim, bool json);
int reportCommand(const std::vector<std::string>& args, const std::string& programPath);

} // namespace zelbo::cli
