#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvan {

// Result codes of the secret store. The numbers are the keychain's where the meaning is the same,
// so stored texts and callers keep one vocabulary; the two Linux-only failures get codes of their own.
namespace secret_status {
inline constexpr int32_t success = 0;
inline constexpr int32_t serviceUnavailable = -25291;  // no session bus, no Secret Service provider
inline constexpr int32_t timedOut = -25292;            // the Secret Service did not answer in time
inline constexpr int32_t failed = -25293;              // an error the service gave that we do not know
inline constexpr int32_t itemNotFound = -25300;
inline constexpr int32_t interactionNotAllowed = -25308;  // locked or missing collection: would prompt
inline constexpr int32_t decodeFailed = -26275;
}  // namespace secret_status

// One item looked up by service and account: the status, and the stored bytes on success.
struct SecretLookup {
    int32_t status = secret_status::itemNotFound;
    std::optional<std::string> data;
};

// Password items keyed by (service, account) in the desktop's secret store. No operation ever
// asks the user anything: where the store would need a prompt (to unlock, or to create a
// collection) the answer is interactionNotAllowed. Every call is bounded in time.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    virtual SecretLookup find(const std::string& service, const std::string& account) = 0;
    // Creates the item, or replaces the data of the existing one (its label stays as created).
    virtual int32_t save(const std::string& service, const std::string& account, const std::string& label,
                         const std::string& data) = 0;
    // Deletes every item of (service, account); none there is itemNotFound.
    virtual int32_t remove(const std::string& service, const std::string& account) = 0;
};

// A readable text for a result code, nothing for a code the store does not know.
std::optional<std::string> secretStatusText(int32_t status);

}  // namespace orvan
