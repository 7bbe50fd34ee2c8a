#pragma once
#include <memory>
#include <optional>
#include <string>
namespace zelbo::campaign {
// A thermal chamber's temperature controller.
class Chamber {
public:
    virtual ~Chamber() = default;
    // Sends a set point in degrees Celsius; false when the controller did not answer.
    virtual bool setSetpoint(double celsius) = 0;
    // The chamber's air temperature; nullopt when the controller did not answer
    // or its reply was unusable.
    virtual std::optional<double> air() = 0;
    // For logs: which controller, on which port.
    virtual std::string describe() const = 0;
};
// The controller behind libCalora.so, loaded at run time; `port` (empty: the
// library's own default / CALORA_PORT). The library is looked for in
// `programFolder` (empty: the program's own), the private-library folder,
// then by the loader. nullptr with `error` set when it cannot be loaded.
std::unique_ptr<Chamber> openCaloraChamber(const std::string& port, std::string* error,
                                           const std::string& programFolder = {});
}
