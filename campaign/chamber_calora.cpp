// The chamber behind libCalora.so. The library is bound at run time, as the
// program binds its USB bridge: beside the program first, then the installed
// private-library folder, then the loader's own search. The library opens the
// port named by CALORA_PORT on every call, so a chamber given a port sets that
// variable before each call; all calls go through one lock, because the library
// refuses a second transaction on a port while one runs.

#include "campaign/chamber.h"

#include <dlfcn.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "link/cyusb.h"
#include "link/install_paths.h"

namespace zelbo::campaign {

namespace {

constexpr const char* kLibraryName = "libCalora.so";

// A set point read back within this of what was written was taken. The
// register holds tenths of a degree on the controller's own scale, so the round
// trip through the calibration and back may move it by about 0.05 degrees.
constexpr double kReadBackTolerance = 0.15;

std::mutex& libraryLock()
{
    static std::mutex m;
    return m;
}

class CaloraChamber final : public Chamber {
public:
    CaloraChamber(void* module, std::string path, std::string port)
        : module_(module), path_(std::move(path)), port_(std::move(port))
    {
    }
    ~CaloraChamber() override
    {
        if (module_) ::dlclose(module_);
    }

    bool bind(std::string* error)
    {
        setPoint1_ = reinterpret_cast<double (*)(double)>(::dlsym(module_, "SetPoint1"));
        getSetPoint1_ = reinterpret_cast<double (*)()>(::dlsym(module_, "GetSetPoint1"));
        readTemp_ = reinterpret_cast<double (*)()>(::dlsym(module_, "ReadTemp"));
        const char* missing = !setPoint1_ ? "SetPoint1" : !getSetPoint1_ ? "GetSetPoint1"
                            : !readTemp_  ? "ReadTemp"  : nullptr;
        if (missing && error) *error = path_ + ": missing export " + missing;
        return !missing;
    }

    bool setSetpoint(double celsius) override
    {
        if (!std::isfinite(celsius)) return false;
        std::lock_guard lock(libraryLock());
        selectPort();
        // SetPoint1 answers 1.0 only for an exact echo after up to ten attempts;
        // the read-back then proves the controller holds the new value (an echo
        // from a controller that dropped the write would not).
        if (setPoint1_(celsius) != 1.0) return false;
        const double back = getSetPoint1_();
        return std::isfinite(back) && std::fabs(back - celsius) <= kReadBackTolerance;
    }

    std::optional<double> air() override
    {
        std::lock_guard lock(libraryLock());
        selectPort();
        const double t = readTemp_(); // NaN: no valid reply
        if (!std::isfinite(t)) return std::nullopt;
        return t;
    }

    std::string describe() const override
    {
        return "Calora controller (" + path_ + ") on " +
               (port_.empty() ? std::string("the library's default port") : port_);
    }

private:
    // Changes the environment only when it names another port, so that a
    // campaign with one chamber writes it once and other threads reading the
    // environment do not race a rewrite on every call.
    void selectPort()
    {
        if (port_.empty()) return;
        const char* current = std::getenv("CALORA_PORT");
        if (!current || port_ != current) ::setenv("CALORA_PORT", port_.c_str(), 1);
    }

    void* module_ = nullptr;
    std::string path_;
    std::string port_;
    double (*setPoint1_)(double) = nullptr;
    double (*getSetPoint1_)() = nullptr;
    double (*readTemp_)() = nullptr;
};

} // namespace

std::unique_ptr<Chamber> openCaloraChamber(const std::string& port, std::string* error,
                                           const std::string& programFolder)
{
    std::string tried;
    void* module = nullptr;
    std::string path;
    const std::filesystem::path folder = programFolder.empty() ? link::programFolder() : std::filesystem::path(programFolder);
    if (!folder.empty()) {
        path = link::locate(folder, link::privateLibraryFolder({}).string(), kLibraryName).string();
        module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            const char* e = ::dlerror();
            tried = path + ": " + (e ? e : "cannot be loaded");
        }
    }
    if (!module) {
        path = kLibraryName;
        module = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            const char* e = ::dlerror();
            if (!tried.empty()) tried += "; ";
            tried += std::string(kLibraryName) + ": " + (e ? e : "cannot be loaded");
        }
    }
    if (!module) {
        if (error) *error = "The chamber library cannot be loaded (" + tried + ")";
        return nullptr;
    }
    auto chamber = std::make_unique<CaloraChamber>(module, path, port);
    if (!chamber->bind(error)) return nullptr;
    return chamber;
}

} // namespace zelbo::campaign
