#pragma once

namespace orvan {

// What a status line for the scan page stands for beyond its text, which is shown as it is: the
// page's state follows the phase, never the wording.
enum class ScanStatusPhase {
    progress,    // a step, a result or a failure of the connection
    connecting,  // a READY was accepted: its wireless ADB connection begins
};

}  // namespace orvan
