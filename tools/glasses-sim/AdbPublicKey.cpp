#include "glasses-sim/AdbPublicKey.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "glasses-sim/ByteOrder.h"

namespace orvan::sim {
namespace {

struct BnFree {
    void operator()(BIGNUM* bn) const { BN_free(bn); }
};
struct BnCtxFree {
    void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
struct ParamBldFree {
    void operator()(OSSL_PARAM_BLD* bld) const { OSSL_PARAM_BLD_free(bld); }
};
struct ParamFree {
    void operator()(OSSL_PARAM* params) const { OSSL_PARAM_free(params); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

std::string base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) throw KeyFormatError("base64 length is not a multiple of 4");
    std::string out(text.size() / 4 * 3, '\0');
    const int written =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (written < 0) throw KeyFormatError("invalid base64");
    std::size_t size = static_cast<std::size_t>(written);
    // EVP_DecodeBlock counts padding as zero bytes; take them back off.
    if (!text.empty() && text.back() == '=') --size;
    if (text.size() >= 2 && text[text.size() - 2] == '=') --size;
    out.resize(size);
    return out;
}

std::string base64Encode(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int written =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(written));
    return out;
}

Bn bnFromLittleEndian(std::string_view bytes) {
    return Bn(
        BN_lebin2bn(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()), nullptr));
}

std::string bnToLittleEndian(const BIGNUM* bn, std::size_t size) {
    std::string out(size, '\0');
    if (BN_bn2lebinpad(bn, reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(size)) < 0) {
        throw KeyFormatError("number does not fit in " + std::to_string(size) + " bytes");
    }
    return out;
}

EVP_PKEY* makeRsaPublicKey(const BIGNUM* n, const BIGNUM* e) {
    std::unique_ptr<OSSL_PARAM_BLD, ParamBldFree> bld(OSSL_PARAM_BLD_new());
    if (!bld || !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_N, n) ||
        !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, e)) {
        throw KeyFormatError("cannot build RSA parameters");
    }
    std::unique_ptr<OSSL_PARAM, ParamFree> params(OSSL_PARAM_BLD_to_param(bld.get()));
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) <= 0) {
        throw KeyFormatError("cannot build RSA public key");
    }
    return key;
}

std::string_view trimKeyLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\0' || line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

}  // namespace

AdbPublicKey::AdbPublicKey(std::string base64, std::string comment, EVP_PKEY* key)
    : base64_(std::move(base64)), comment_(std::move(comment)), key_(key) {}

AdbPublicKey::AdbPublicKey(AdbPublicKey&& other) noexcept
    : base64_(std::move(other.base64_)),
      comment_(std::move(other.comment_)),
      key_(std::exchange(other.key_, nullptr)) {}

AdbPublicKey& AdbPublicKey::operator=(AdbPublicKey&& other) noexcept {
    if (this != &other) {
        EVP_PKEY_free(key_);
        base64_ = std::move(other.base64_);
        comment_ = std::move(other.comment_);
        key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
}

AdbPublicKey::~AdbPublicKey() {
    EVP_PKEY_free(key_);
}

AdbPublicKey AdbPublicKey::parse(std::string_view line) {
    line = trimKeyLine(line);
    const std::size_t split = line.find_first_of(" \t");
    const std::string_view field = line.substr(0, split);
    std::string comment = split == std::string_view::npos ? std::string() : std::string(line.substr(split + 1));
    if (field.empty()) throw KeyFormatError("empty key");
    const std::string blob = base64Decode(field);
    if (blob.size() != kBlobSize) {
        throw KeyFormatError("key blob has " + std::to_string(blob.size()) + " bytes, expected 524");
    }
    const std::uint32_t words = readU32(blob, 0);
    if (words != kModulusBytes / 4) {
        throw KeyFormatError("modulus has " + std::to_string(words) + " words, expected 64");
    }
    Bn n = bnFromLittleEndian(std::string_view(blob).substr(8, kModulusBytes));
    Bn e(BN_new());
    if (!n || !e || !BN_set_word(e.get(), readU32(blob, 520))) throw KeyFormatError("cannot read key numbers");
    if (BN_is_zero(n.get()) || !BN_is_odd(n.get())) throw KeyFormatError("modulus is not a valid RSA modulus");
    return AdbPublicKey(std::string(field), std::move(comment), makeRsaPublicKey(n.get(), e.get()));
}

AdbPublicKey AdbPublicKey::fromRsaKey(EVP_PKEY* key, std::string comment) {
    BIGNUM* rawN = nullptr;
    BIGNUM* rawE = nullptr;
    if (!EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &rawN) ||
        !EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &rawE)) {
        BN_free(rawN);
        throw KeyFormatError("not an RSA key");
    }
    Bn n(rawN), e(rawE);
    if (BN_num_bytes(n.get()) != static_cast<int>(kModulusBytes)) throw KeyFormatError("only 2048-bit keys are used");
    std::unique_ptr<BN_CTX, BnCtxFree> ctx(BN_CTX_new());
    // n0inv = -1 / n mod 2^32 and rr = (2^2048)^2 mod n: the Montgomery constants adbd's own
    // verifier wants; real keys carry them, so ours do too.
    Bn r32(BN_new()), n0inv(BN_new()), rr(BN_new());
    BN_set_bit(r32.get(), 32);
    BN_mod_inverse(n0inv.get(), n.get(), r32.get(), ctx.get());
    BN_sub(n0inv.get(), r32.get(), n0inv.get());
    BN_set_bit(rr.get(), 4096);
    BN_mod(rr.get(), rr.get(), n.get(), ctx.get());

    std::string blob;
    appendU32(blob, kModulusBytes / 4);
    appendU32(blob, static_cast<std::uint32_t>(BN_get_word(n0inv.get())));
    blob += bnToLittleEndian(n.get(), kModulusBytes);
    blob += bnToLittleEndian(rr.get(), kModulusBytes);
    appendU32(blob, static_cast<std::uint32_t>(BN_get_word(e.get())));
    return AdbPublicKey(base64Encode(blob), std::move(comment), makeRsaPublicKey(n.get(), e.get()));
}

std::string AdbPublicKey::line() const {
    return comment_.empty() ? base64_ : base64_ + " " + comment_;
}

bool AdbPublicKey::verifyTokenSignature(std::string_view token, std::string_view signature) const {
    if (token.size() != kTokenSize || signature.size() != kModulusBytes) return false;
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new(key_, nullptr));
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha1()) <= 0) {
        return false;
    }
    return EVP_PKEY_verify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                           reinterpret_cast<const unsigned char*>(token.data()), token.size()) == 1;
}

std::string signAdbToken(EVP_PKEY* privateKey, std::string_view token) {
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new(privateKey, nullptr));
    std::size_t size = 0;
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha1()) <= 0 ||
        EVP_PKEY_sign(ctx.get(), nullptr, &size, reinterpret_cast<const unsigned char*>(token.data()), token.size()) <=
            0) {
        throw KeyFormatError("cannot sign");
    }
    std::string signature(size, '\0');
    if (EVP_PKEY_sign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                      reinterpret_cast<const unsigned char*>(token.data()), token.size()) <= 0) {
        throw KeyFormatError("cannot sign");
    }
    signature.resize(size);
    return signature;
}

}  // namespace orvan::sim
