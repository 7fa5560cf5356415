#pragma once

#include <string>

namespace orvan {

// The scan page's disable code as a DISABLED report acts on it; the scan page's controller
// implements it. Main thread, except where said.
class ScanDisableCode {
public:
    virtual ~ScanDisableCode() = default;
    // The session of the disable code on show: a report of another one is ignored.
    virtual const std::string& disableSessionId() const = 0;
    // The status card of the disable code; any thread.
    virtual void updateDisableStatus(const std::string& title, const std::string& detail, bool isError) = 0;
    // The glasses turned wireless ADB off: the enable code again, and this disable code acts no more.
    virtual void completeDisableQr() = 0;
};

}  // namespace orvan
