#include "link/cyusb.h"

#include <dlfcn.h>

#include <system_error>

#include "link/install_paths.h"

namespace zelbo::link {

std::filesystem::path programFolder()
{
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    return exe.parent_path();
}

DynamicDLL::~DynamicDLL()
{
    unload();
}

int DynamicDLL::resolve(bool)
{
    return 0;
}

bool DynamicDLL::load(const std::filesystem::path& folder, const std::string& name)
{
    unload();
    loadError_.clear();
    // The program's own folder first, so that the library shipped beside the
    // program wins over any other copy; in an installed copy, its private
    // library folder.
    if (!folder.empty()) {
        const auto local = locate(folder, privateLibraryFolder({}).string(), name).string();
        module_ = ::dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module_) {
            const char* err = ::dlerror();
            loadError_ = err ? err : "";
        }
    }
    if (!module_) {
        module_ = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module_) {
            const char* err = ::dlerror();
            if (err) {
                if (!loadError_.empty())
                    loadError_ += "; ";
                loadError_ += err;
            }
        }
    }
    return module_ != nullptr;
}

void DynamicDLL::unload()
{
    if (module_) {
        ::dlclose(module_);
        module_ = nullptr;
    }
}

CCyUSB::CCyUSB(const std::filesystem::path& folder, const std::string& libraryName)
{
    if (load(folder, libraryName))
        CCyUSB::resolve(true);
    else
        CCyUSB::resolve(false);
}

CCyUSB::CCyUSB(Unbound) : handMade_(true)
{
}

CCyUSB::~CCyUSB()
{
    if (module_) {
        unload();
        CCyUSB::resolve(false);
    }
}

namespace {
template <class T> void bind(void* module, T& slot, const char* name)
{
    slot = module ? reinterpret_cast<T>(::dlsym(module, name)) : nullptr;
}
} // namespace

int CCyUSB::resolve(bool loadIt)
{
    void* m = loadIt ? module_ : nullptr;
    bind(m, InitializeUSB, "InitializeUSB");
    bind(m, USB_Close, "USB_Close");
    bind(m, USB_BulkWrite, "USB_BulkWrite");
    bind(m, USB_BulkRead, "USB_BulkRead");
    bind(m, GetPID, "GetPID");
    bind(m, GetVID, "GetVID");
    bind(m, GetDLLVersion, "GetDLLVersion");
    bind(m, GetDriverVersion, "GetDriverVersion");
    bind(m, GetDeviceID, "GetDeviceID");
    bind(m, GetStringDescriptor, "GetStringDescriptor");
    bind(m, USB_Check, "USB_Check");
    bind(m, USB_Init, "USB_Init");
    bind(m, download, "download");
    bind(m, USB_Send, "USB_Send");
    bind(m, USB_Read, "USB_Read");
    bind(m, ReadData, "ReadData");
    bind(m, StringDesc1, "StringDesc1");
    bind(m, StringDesc2, "StringDesc2");
    bind(m, SendVendorRequest, "SendVendorRequest");
    bind(m, OpenUSBDevice, "OpenUSBDevice");
    return 1;
}

std::string CCyUSB::failure() const
{
    if (!module_ && !handMade_)
        return loadError_.empty() ? "library not loaded" : loadError_;
    // The exports the program calls.
    const std::pair<const void*, const char*> used[] = {
        {reinterpret_cast<const void*>(USB_Check), "USB_Check"},
        {reinterpret_cast<const void*>(USB_Init), "USB_Init"},
        {reinterpret_cast<const void*>(download), "download"},
        {reinterpret_cast<const void*>(SendVendorRequest), "SendVendorRequest"},
        {reinterpret_cast<const void*>(USB_BulkWrite), "USB_BulkWrite"},
        {reinterpret_cast<const void*>(USB_BulkRead), "USB_BulkRead"},
        {reinterpret_cast<const void*>(USB_Close), "USB_Close"},
        {reinterpret_cast<const void*>(StringDesc1), "StringDesc1"},
        {reinterpret_cast<const void*>(StringDesc2), "StringDesc2"},
    };
    for (const auto& [fn, name] : used)
        if (!fn)
            return std::string("missing export ") + name;
    return {};
}

bool CCyUSB::usable() const
{
    return failure().empty();
}

} // namespace zelbo::link
