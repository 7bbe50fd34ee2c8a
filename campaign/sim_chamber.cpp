#include "campaign/sim_chamber.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace zelbo::campaign {

namespace {

std::string g_ownLink; // the link this process named, removed at exit

void removeOwnLink()
{
    if (!g_ownLink.empty()) ::unlink(g_ownLink.c_str());
}

} // namespace

std::string prepareSimulatedChamber()
{
    static std::mutex m;
    std::lock_guard lock(m);
    if (const char* set = std::getenv("ZELBO_SIM_CHAMBER"); set && *set) return set;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = runtime && *runtime && ::access(runtime, W_OK) == 0 ? runtime : "/tmp";
    g_ownLink = dir + "/zelbo-sim-chamber-" + std::to_string(::getpid());
    ::setenv("ZELBO_SIM_CHAMBER", g_ownLink.c_str(), 1);
    static const bool registered = std::atexit(removeOwnLink) == 0;
    (void)registered;
    return g_ownLink;
}

} // namespace zelbo::campaign
