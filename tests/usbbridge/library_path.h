#pragma once
// Where libUsbBridge.so lies: beside the running executable, as for the
// program. Loading it by full path does not depend on whose search path the
// loader applies (sanitizer runtimes intercept dlopen, and then the
// executable's own run path is not consulted).

#include <unistd.h>

#include <string>

inline std::string bridgeLibraryPath()
{
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "libUsbBridge.so";
    std::string exe(buf, static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1) + "libUsbBridge.so";
}
