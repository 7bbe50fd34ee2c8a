#include "cli/campaign_command.h"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sys/wait.h>
#include <unistd.h>

#include "campaign/campaign.h"
#include "common/json_text.h"

namespace zelbo::cli {

namespace {

// The first SIGINT / SIGTERM stops the campaign after the point under way;
// a second one gives that point up too.
volatile std::sig_atomic_t g_signals = 0;
volatile std::sig_atomic_t g_lastSignal = 0;

extern "C" void countSignal(int sig)
{
    g_lastSignal = sig;
    if (g_signals < 100) g_signals = g_signals + 1;
}

void catchSignals()
{
    struct sigaction sa {};
    sa.sa_handler = countSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

std::string duration(double s)
{
    if (s < 0) return "?";
    const long long t = std::llround(s);
    char buf[32];
    if (t >= 3600) std::snprintf(buf, sizeof buf, "%lldh%02lldm", t / 3600, t / 60 % 60);
    else if (t >= 60) std::snprintf(buf, sizeof buf, "%lldm%02llds", t / 60, t % 60);
    else std::snprintf(buf, sizeof buf, "%llds", t);
    return buf;
}

constexpr const char* kCampaignUsage =
    "usage: zelbo-cli [--board sim|usb] campaign PLAN.toml [--db OUT.sqlite] [--resume] [--chamber-port PORT]\n";
constexpr const char* kReportUsage = "usage: zelbo-cli report RESULTS.sqlite [-o REPORT.html]\n";

} // namespace

int campaignCommand(const std::vector<std::string>& args, std::optional<bool> sim, bool json)
{
    campaign::CampaignOptions o;
    o.sim = sim;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (a == "--db") {
            auto v = value();
            if (!v) return std::cerr << "zelbo-cli: --db needs a file\n" << kCampaignUsage, 2;
            o.dbPath = *v;
        } else if (a == "--chamber-port") {
            auto v = value();
            if (!v) return std::cerr << "zelbo-cli: --chamber-port needs a port\n" << kCampaignUsage, 2;
            o.chamberPort = *v;
        } else if (a == "--resume") {
            o.resume = true;
        } else if (a == "--help" || a == "-h") {
            std::cout << kCampaignUsage;
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            return std::cerr << "zelbo-cli: unknown option " << a << "\n" << kCampaignUsage, 2;
        } else if (o.planPath.empty()) {
            o.planPath = a;
        } else {
            return std::cerr << "zelbo-cli: one plan at a time\n" << kCampaignUsage, 2;
        }
    }
    if (o.planPath.empty()) return std::cerr << kCampaignUsage, 2;

    catchSignals();
    o.stopRequested = [] { return g_signals > 0; };
    o.abortPoint = [] { return g_signals > 1; };
    const bool tty = ::isatty(STDERR_FILENO) != 0;
    std::string lastState;
    std::size_t lastDone = static_cast<std::size_t>(-1);
    bool warned = false;
    o.progress = [&](const campaign::Progress& p) {
        if (g_signals > 0 && !warned) {
            warned = true;
            std::cerr << (tty ? "\n" : "") << "zelbo-cli: stopping after this point (again to stop at once)\n";
        }
        // On a terminal one line kept up to date; otherwise a line when
        // something changes.
        if (!tty && p.done == lastDone && p.state == lastState) return;
        lastDone = p.done;
        lastState = p.state;
        char line[256];
        std::string temp = "-";
        if (p.temperature) {
            char t[64];
            std::snprintf(t, sizeof t, "%g °C", *p.temperature);
            temp = t;
            if (p.air) {
                std::snprintf(t, sizeof t, " (air %.1f)", *p.air);
                temp += t;
            }
        }
        std::snprintf(line, sizeof line, "[%zu/%zu] %s, %s, about %s left", p.done, p.total, temp.c_str(),
                      p.state.c_str(), duration(p.secondsLeft).c_str());
        if (tty) std::cerr << "\r" << line << "\033[K" << std::flush;
        else std::cerr << line << "\n";
    };
    o.pointDone = [json](const campaign::PointRecord& r) {
        if (!json) return;
        std::cout << "{\"point\":" << jsonString(r.key) << ",\"verdict\":" << jsonString(r.verdict) << "}\n"
                  << std::flush;
    };
    o.accepted = [](const std::string& db, std::size_t points, std::size_t done) {
        std::cerr << "zelbo-cli: " << points << " points into \"" << db << "\"";
        if (done > 0) std::cerr << ", " << done << " already there";
        std::cerr << "\n";
    };
    const auto r = campaign::runCampaignFile(o);
    if (tty) std::cerr << "\n";
    using Code = campaign::CampaignRun::Code;
    const auto& s = r.summary;
    if (r.code == Code::Usage || r.code == Code::NoBoard || (r.code == Code::Failed && s.total == 0)) {
        std::cerr << "zelbo-cli: " << r.error << "\n";
        if (json) std::cout << "{\"command\":\"campaign\",\"ok\":false,\"error\":" << jsonString(r.error) << "}\n";
        return r.code == Code::Usage ? 2 : r.code == Code::NoBoard ? 3 : 1;
    }
    std::cerr << "zelbo-cli: " << campaign::outcomeName(s.outcome) << ": " << s.measured << " points measured ("
              << s.passed << " passed, " << s.failed << " failed), " << s.skipped << " skipped, " << s.alreadyDone
              << " from before, of " << s.total << (s.message.empty() ? "" : "; " + s.message) << "\n";
    if (json)
        std::cout << "{\"command\":\"campaign\",\"ok\":" << (r.code == Code::Done ? "true" : "false")
                  << ",\"outcome\":" << jsonString(campaign::outcomeName(s.outcome)) << ",\"db\":"
                  << jsonString(r.dbPath) << ",\"total\":" << s.total << ",\"measured\":" << s.measured
                  << ",\"passed\":" << s.passed << ",\"failed\":" << s.failed << ",\"skipped\":" << s.skipped
                  << "}\n";
    if (r.code == Code::Stopped) return 128 + (g_lastSignal ? static_cast<int>(g_lastSignal) : SIGINT);
    return r.code == Code::Done ? 0 : 1;
}

int reportCommand(const std::vector<std::string>& args, const std::string& programPath)
{
    std::string db, out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" || args[i] == "--out") {
            if (i + 1 >= args.size()) return std::cerr << kReportUsage, 2;
            out = args[++i];
        } else if (args[i] == "--help" || args[i] == "-h") {
            std::cout << kReportUsage;
            return 0;
        } else if (!args[i].empty() && args[i][0] == '-') {
            return std::cerr << "zelbo-cli: unknown option " << args[i] << "\n" << kReportUsage, 2;
        } else if (db.empty()) {
            db = args[i];
        } else {
            return std::cerr << kReportUsage, 2;
        }
    }
    if (db.empty()) return std::cerr << kReportUsage, 2;
    if (!std::filesystem::exists(db)) return std::cerr << "zelbo-cli: no database \"" << db << "\"\n", 2;
    if (out.empty()) out = std::filesystem::path(db).replace_extension(".html").string();
    // The report is drawn by the Python package (matplotlib); from a build
    // tree its folder lies beside bin/.
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path bin = fs::canonical(fs::path(programPath), ec).parent_path();
    const fs::path buildPython = bin.parent_path() / "python";
    if (fs::exists(buildPython / "zelbo" / "report.py")) {
        const char* old = std::getenv("PYTHONPATH");
        const std::string value = buildPython.string() + (old && *old ? ":" + std::string(old) : "");
        ::setenv("PYTHONPATH", value.c_str(), 1);
    }
    const pid_t pid = ::fork();
    if (pid < 0) return std::cerr << "zelbo-cli: cannot start the report\n", 1;
    if (pid == 0) {
        ::execl("/usr/bin/python3", "python3", "-m", "zelbo.report", db.c_str(), "-o", out.c_str(),
                static_cast<char*>(nullptr));
        std::perror("zelbo-cli: /usr/bin/python3");
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::cerr << "zelbo-cli: the report could not be made\n";
        return 1;
    }
    std::cout << out << "\n";
    return 0;
}

} // namespace zelbo::cli
