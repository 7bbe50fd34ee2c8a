// Every writer of files that must not be lost against the places a save can
// land in: a symbolic link, a folder that cannot be written, a full disk.
// Each write runs in a child process (so that the file-size limit standing
// in for the full disk, and the dropped rights of the read-only case, stay
// there) and sums up what the user ends up with.
#include "tests/hostile/hostile_writers.h"

#include <csignal>
#include <fstream>
#include <sstream>

#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "files/settings_file.h"
#include "scope/calibration_file.h"
#include "thermal/step_list.h"
#include "thermal/workbook.h"

namespace hostile {

namespace fs = std::filesystem;

namespace {

constexpr const char* kOld = "the file as it was\n";
constexpr rlim_t kFullDiskBytes = 64; // more than kOld, less than any write

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<zelbo::thermal::LogRow> logRows()
{
    std::vector<zelbo::thermal::LogRow> rows;
    for (int i = 1; i <= 40; ++i) rows.push_back({std::to_string(i), std::to_string(100 * i), "41.25", "586"});
    return rows;
}

// Runs `write` in a child; its error text ("" for success) comes back.
std::string inChild(WriteCase c, const fs::path& dir, const std::function<std::string()>& write)
{
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    const pid_t pid = ::fork();
    if (pid < 0) return "fork failed";
    if (pid == 0) {
        ::close(fds[0]);
        if (c == WriteCase::FullDisk) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{kFullDiskBytes, kFullDiskBytes};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (c == WriteCase::ReadOnlyFolder && ::geteuid() == 0) {
            // Root writes into a mode-555 folder anyway: write as nobody.
            (void)dir;
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        }
        const std::string error = "|" + write();
        [[maybe_unused]] const auto n = ::write(fds[1], error.data(), error.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || out.empty()) return "LOST: the writer did not finish";
    return out.substr(1);
}

// The file's name in the folder as the user would pick it; what is there
// before the write depends on the case.
std::string summarise(WriteCase c, const Writer& w, const fs::path& dir)
{
    const fs::path target = c == WriteCase::SymbolicLink ? dir / "real" / w.fileName : dir / w.fileName;
    fs::create_directories(target.parent_path());
    { std::ofstream(target, std::ios::binary) << kOld; }
    const fs::path chosen = dir / w.fileName;
    if (c == WriteCase::SymbolicLink) fs::create_symlink(fs::path("real") / w.fileName, chosen);
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    if (c == WriteCase::ReadOnlyFolder)
        fs::permissions(dir, fs::perms::owner_write, fs::perm_options::remove);

    const std::string error = inChild(c, dir, [&] { return w.write(chosen); });
    fs::permissions(dir, fs::perms::owner_write, fs::perm_options::add);

    const std::string now = slurp(target);
    std::size_t others = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name != w.fileName && name != "real") ++others;
    }
    std::string reason = error; // the scratch folder's name changes from run to run
    for (std::size_t i; (i = reason.find(dir.string())) != std::string::npos;) reason.replace(i, dir.string().size(), "FOLDER");
    std::string out;
    if (error.empty()) out = now == kOld ? "LOST: reported written, old file there" : "written";
    else out = "refused: " + reason + (now == kOld ? "; old file kept" : "; LOST: old file changed");
    if (c == WriteCase::SymbolicLink) out += fs::is_symlink(fs::symlink_status(chosen)) ? "; link kept" : "; LOST: link replaced";
    if (others > 0) out += "; LOST: " + std::to_string(others) + " file(s) left behind";
    return out;
}

} // namespace

std::vector<WriteCase> allWriteCases() { return {WriteCase::SymbolicLink, WriteCase::ReadOnlyFolder, WriteCase::FullDisk}; }

const char* writeCaseName(WriteCase c)
{
    switch (c) {
    case WriteCase::SymbolicLink: return "saved onto a symbolic link";
    case WriteCase::ReadOnlyFolder: return "a read-only folder";
    case WriteCase::FullDisk: return "a full disk (file-size limit)";
    }
    return "?";
}

std::string runWriteCase(WriteCase c, const Writer& w)
{
    char name[] = "/tmp/zelbo_hostile_w_XXXXXX";
    const fs::path dir = ::mkdtemp(name);
    std::string out = summarise(c, w, dir);
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
    return out;
}

const std::vector<Writer>& writers()
{
    using zelbo::thermal::WorkbookFailure;
    static const std::vector<Writer> w = [] {
        std::vector<Writer> r;
        auto withError = [](bool ok, const std::string& error) { return ok ? std::string() : error; };
        r.push_back({".set (settings)", "TQ5170x.set",
                     [=](const fs::path& p) {
                         std::string e;
                         return withError(zelbo::files::writeSettingsFile(p, zelbo::files::defaultSettings(), &e), e);
                     }});
        r.push_back({"init.clb (calibration)", "init.clb",
                     [=](const fs::path& p) {
                         zelbo::scope::CalibrationOffsets o;
                         for (std::size_t i = 0; i < 4; ++i) o.voltage[i] = o.current[i] = o.icc[i] = -0.0123457;
                         std::string e;
                         return withError(zelbo::scope::writeCalibrationFile(p, o, &e), e);
                     }});
        r.push_back({"step list .csv (temperature monitor)", "steps.csv",
                     [=](const fs::path& p) {
                         const std::vector<zelbo::thermal::StepRow> rows(8, {"1.00", "0.50", "HI", "LO", "HI"});
                         std::string e;
                         return withError(zelbo::files::writeFileAtomically(p, zelbo::thermal::formatStepList(rows), &e), e);
                     }});
        r.push_back({"workbook .xlsx (temperature log)", "log.xlsx",
                     [=](const fs::path& p) {
                         std::string e;
                         WorkbookFailure f = WorkbookFailure::None;
                         const bool ok = zelbo::thermal::writeWorkbook(p.string(), "TQ51701", logRows(), &e, &f);
                         return withError(ok, e);
                     }});
        r.push_back({"log .csv (temperature log)", "log.csv",
                     [=](const fs::path& p) {
                         std::string e;
                         return withError(zelbo::thermal::writeLogCsv(p.string(), "TQ51701", logRows(), &e), e);
                     }});
        return r;
    }();
    return w;
}

} // namespace hostile
