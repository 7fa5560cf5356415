#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "adb/ListeningSocketOwner.h"
#include "foundation/LogSink.h"
#include "platform/Clock.h"

namespace orvan {

class AdbRunner;

// Reads one environment variable; nothing when it is unset.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string&)>;

// The local TCP port of the server that a plain `adb` client talks to, chosen as adb chooses it:
// ADB_SERVER_SOCKET "tcp:PORT" or "tcp:HOST:PORT", else ANDROID_ADB_SERVER_PORT, else 5037.
// Nothing when that server is not on this computer (another host, a Unix socket) or the
// variables are malformed (adb itself refuses to run then).
std::optional<int> sharedAdbServerPort(const EnvironmentLookup& environment);

// How the shared server stands, as far as choosing a binary goes.
enum class SharedServerVerdict {
    notLocal,           // the shared server is not on a local TCP port: nothing to look at
    noServer,           // nobody listens on the port
    sameVersion,        // an adb of our protocol version (or our own binary) serves it
    otherVersion,       // an adb of another protocol version serves it: follow it
    ownerUnreadable,    // a listener whose process we cannot see (another user's, or just gone)
    notAdb,             // the listener is some other program
    versionUnreadable,  // an adb whose version we cannot read (garbage, time-out, deleted binary)
};

struct SharedServerCheck {
    SharedServerVerdict verdict = SharedServerVerdict::noServer;
    std::optional<int> port;
    std::optional<pid_t> pid;
    std::optional<std::filesystem::path> serverExecutable;
    std::optional<int> serverVersion;
    std::optional<int> ownVersion;
    // The binary shared-scope commands must run; nothing means our own tool.
    std::optional<std::filesystem::path> binary;
};

struct SharedAdbServerGuardOptions {
    std::filesystem::path procRoot = "/proc";
    Seconds versionTimeout{2.0};
    EnvironmentLookup environment;  // empty: the process environment
};

// An adb client kills a server of another protocol version and starts its own. The developer's
// shared server is often started by the IDE from a newer SDK than our tool, so running our tool
// against it would kill it, and with it every debugging session, on each refresh. Before each
// shared-scope command this guard looks up who serves the shared port and, when that is an adb
// of another version, hands back that adb so both ends agree and nothing is killed. In every
// doubtful case it answers "our own tool", as before; it never kills anything itself.
//
// The answer is cached per server process: while the known server still holds its listening
// socket, a command costs one look at that process's open files. The socket tables are read when
// no server is known; the full process scan and the `version` runs happen only when the server
// changes. Thread-safe.
class SharedAdbServerGuard {
public:
    SharedAdbServerGuard(std::filesystem::path ownAdb, SharedLogSink log, SharedAdbServerGuardOptions options = {});

    // Creates a guard for the runner's own tool and log and makes it the runner's resolver for
    // shared-scope commands. The runner keeps the guard alive.
    static std::shared_ptr<SharedAdbServerGuard> installIn(AdbRunner& runner, SharedAdbServerGuardOptions options = {});

    // The binary for the next shared-scope command; nothing means our own tool.
    std::optional<std::filesystem::path> sharedBinary() { return check().binary; }
    // Looks again (cheaply while the server is unchanged), logs a changed choice, and returns it.
    SharedServerCheck check();

private:
    SharedServerCheck inspect(int port, const std::vector<ListeningSocket>& sockets);
    SharedServerCheck inspectOwner(SharedServerCheck check);
    std::optional<int> ownVersion();
    bool isOwnBinary(const std::filesystem::path& executable);
    void logChange(const SharedServerCheck& check);

    std::filesystem::path ownAdb_;
    SharedLogSink log_;
    SharedAdbServerGuardOptions options_;
    ListeningSocketOwner sockets_;

    std::mutex mutex_;
    std::optional<SharedServerCheck> cached_;
    std::vector<ListeningSocket> cachedSockets_;
    std::optional<int> ownVersion_;
    std::string lastLogKey_;
    bool lastChoiceQuiet_ = true;
};

}  // namespace orvan
