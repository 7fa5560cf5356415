#pragma once

#include <string>

namespace orvan {

// What a status line for the scan page stands for beyond its text, which is shown as it is: the
// page's state follows the phase, never the wording.
enum class ScanStatusPhase {
    progress,    // a step, a result or a failure of the connection
    connecting,  // a READY was accepted: its wireless ADB connection begins
};

// One line of the scan page's status card.
struct ScanStatus {
    std::string text;
    bool isError = false;
    bool isPermanentError = false;  // a failure a new scan of the same code cannot cure
    ScanStatusPhase phase = ScanStatusPhase::progress;
};

// The scan page as the scan-mode parts report to it (the callback coordinator, the connection
// tasks, the app's mirror events). The scan page's controller implements it. Any thread: the
// page shows it on the main thread.
class ScanStatusSink {
public:
    virtual ~ScanStatusSink() = default;
    virtual void showStatus(const ScanStatus& status) = 0;
    // A failure the local-network authorization may cure: the failure card offers it.
    virtual void showLocalNetworkFailure(const std::string& text) = 0;
};

}  // namespace orvan
