#include "adb/AdbAuthorizationKey.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "foundation/MirrorError.h"
#include "foundation/Text.h"
#include "platform/Process.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

size_t utf8Characters(std::string_view text) {
    size_t count = 0;
    for (unsigned char c : text) count += (c & 0xC0) != 0x80;
    return count;
}

// Decoded size of strict standard base64 (padded, no other characters), nothing when invalid.
std::optional<size_t> base64DecodedSize(std::string_view token) {
    if (token.empty() || token.size() % 4 != 0) return std::nullopt;
    size_t padding = token.ends_with("==") ? 2 : token.ends_with("=") ? 1 : 0;
    for (size_t i = 0; i < token.size() - padding; ++i) {
        char c = token[i];
        bool alphabet =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (!alphabet) return std::nullopt;
    }
    return token.size() / 4 * 3 - padding;
}

using BigNumber = std::unique_ptr<BIGNUM, decltype(&BN_free)>;

// Little-endian bytes of a number, padded to `size`.
bool appendLittleEndian(std::vector<unsigned char>& out, const BIGNUM* number, int size) {
    std::vector<unsigned char> bytes(static_cast<size_t>(size));
    if (BN_bn2lebinpad(number, bytes.data(), size) != size) return false;
    out.insert(out.end(), bytes.begin(), bytes.end());
    return true;
}

void appendWord(std::vector<unsigned char>& out, uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<unsigned char>(word >> shift));
}

// adb's own comment: LOGNAME (or the login name) @ HOSTNAME (or the host name). adb writes
// "unknown" as the host when it finds no user name, and so do we, so the lines match.
std::string userAndHost() {
    std::string user = getenv("LOGNAME") ? getenv("LOGNAME") : "";
    if (user.empty() && getlogin()) user = getlogin();
    std::string host = getenv("HOSTNAME") ? getenv("HOSTNAME") : "";
    char buffer[256] = {};
    if (host.empty() && gethostname(buffer, sizeof buffer - 1) == 0) host = buffer;
    if (host.empty() || user.empty()) host = "unknown";
    return user + "@" + host;
}

}  // namespace

std::optional<std::string> validateAdbPublicKey(std::string_view text) {
    std::string trimmed = text::trimmed(text);
    if (utf8Characters(trimmed) > 4096) return std::nullopt;
    auto pieces = text::splitFields(trimmed, " \t\r\n\v\f");
    if (pieces.empty() || pieces[0].size() < 128) return std::nullopt;
    auto size = base64DecodedSize(pieces[0]);
    if (!size || *size < 256) return std::nullopt;
    return trimmed;
}

std::optional<std::string> AdbAuthorizationKey::derivePublicKey(const fs::path& privateKeyFile) {
    std::unique_ptr<FILE, decltype(&fclose)> file(fopen(privateKeyFile.c_str(), "rb"), &fclose);
    if (!file) return std::nullopt;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr),
                                                            &EVP_PKEY_free);
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA || EVP_PKEY_get_bits(key.get()) != 2048) {
        return std::nullopt;  // adb keys are 2048-bit RSA; the glasses take nothing else
    }
    BIGNUM* rawN = nullptr;
    BIGNUM* rawE = nullptr;
    EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_N, &rawN);
    EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_E, &rawE);
    BigNumber n(rawN, &BN_free), e(rawE, &BN_free), r32(BN_new(), &BN_free), n0inv(BN_new(), &BN_free),
        rr(BN_new(), &BN_free);
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> context(BN_CTX_new(), &BN_CTX_free);
    if (!n || !e || !r32 || !n0inv || !rr || !context) return std::nullopt;
    // The Android structure: word count, -1/n[0] mod 2^32, n, (2^2048)^2 mod n, all little-endian,
    // then the exponent: what the glasses' adbd reads from the base64.
    constexpr int kBytes = 256;
    if (!BN_set_bit(r32.get(), 32) || !BN_mod(n0inv.get(), n.get(), r32.get(), context.get()) ||
        !BN_mod_inverse(n0inv.get(), n0inv.get(), r32.get(), context.get()) ||
        !BN_sub(n0inv.get(), r32.get(), n0inv.get()) || !BN_set_bit(rr.get(), kBytes * 8 * 2) ||
        !BN_mod(rr.get(), rr.get(), n.get(), context.get())) {
        return std::nullopt;
    }
    std::vector<unsigned char> structure;
    appendWord(structure, kBytes / 4);
    appendWord(structure, static_cast<uint32_t>(BN_get_word(n0inv.get())));
    if (!appendLittleEndian(structure, n.get(), kBytes) || !appendLittleEndian(structure, rr.get(), kBytes)) {
        return std::nullopt;
    }
    appendWord(structure, static_cast<uint32_t>(BN_get_word(e.get())));
    std::string base64(4 * ((structure.size() + 2) / 3) + 1, '\0');
    int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(base64.data()), structure.data(),
                                 static_cast<int>(structure.size()));
    base64.resize(static_cast<size_t>(length));
    return base64 + " " + userAndHost();
}

AdbAuthorizationKey::AdbAuthorizationKey(const AdbRunner& runner, fs::path keyFolder)
    : runner_(runner), folder_(std::move(keyFolder)) {}

std::optional<std::string> AdbAuthorizationKey::adbPublicKeyForTemporaryAuthorization() const {
    if (auto existing = readFile(folder_ / "adbkey.pub")) {
        if (auto key = validateAdbPublicKey(*existing)) return key;
    }
    std::error_code error;
    if (fs::exists(folder_ / "adbkey", error) || fs::is_symlink(folder_ / "adbkey", error)) {
        // The user's private key stays as it is, whatever happens: replacing it would revoke
        // this computer on every device that trusts it.
        auto derived = derivePublicKey(folder_ / "adbkey");
        return derived ? validateAdbPublicKey(*derived) : std::nullopt;
    }
    return generateKeyPair();
}

std::optional<std::string> AdbAuthorizationKey::generateKeyPair() const {
    auto fail = [this](const std::string& description) -> std::optional<std::string> {
        if (const auto& log = runner_.log()) (*log)("无法准备临时 ADB 授权公钥: " + description);
        return std::nullopt;
    };
    std::error_code error;
    fs::create_directories(folder_, error);
    if (error) return fail(error.message());
    // A fresh pair under a name of our own, then linked into place: link() fails when "adbkey"
    // appeared meanwhile (another call or another program), so a pair is never replaced and two
    // concurrent calls agree on one key without holding a lock across the command.
    std::string temporary = (folder_ / "adbkey.orvan-XXXXXX").string();
    int fd = mkstemp(temporary.data());
    if (fd < 0) return fail(std::error_code(errno, std::generic_category()).message());
    close(fd);
    auto cleanUp = [&] {
        fs::remove(temporary, error);
        fs::remove(temporary + ".pub", error);
    };
    try {
        auto result = runner_.runAdb({"keygen", temporary}, {.timeout = std::chrono::seconds(5),
                                                             .check = false,
                                                             .serial = std::nullopt,
                                                             .log = false,
                                                             .scope = AdbServerScope::sharedDevelopment});
        if (result.status != 0) {
            cleanUp();
            return std::nullopt;
        }
    } catch (const std::exception& failure) {  // LaunchError, or MirrorError "命令超时: ..."
        cleanUp();
        return fail(failure.what());
    }
    const fs::path key = folder_ / "adbkey";
    if (::link(temporary.c_str(), key.c_str()) == 0) {
        fs::rename(temporary + ".pub", folder_ / "adbkey.pub", error);
        cleanUp();
        auto written = readFile(folder_ / "adbkey.pub");
        return written ? validateAdbPublicKey(*written) : std::nullopt;
    }
    cleanUp();
    auto derived = derivePublicKey(key);  // the pair that won
    return derived ? validateAdbPublicKey(*derived) : std::nullopt;
}

}  // namespace orvan
