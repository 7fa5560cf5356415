#include "pairing/WirelessAdbCallback.h"

#include <limits>
#include <nlohmann/json.hpp>

namespace orvan {
namespace {

using Json = nlohmann::json;

// Thrown inside decoding only, caught in decode().
struct DecodeFailure {
    std::string text;
};

const Json* member(const Json& object, const char* key) {
    auto found = object.find(key);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

std::string requiredString(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (!value) throw DecodeFailure{std::string("key \"") + key + "\" is missing"};
    if (!value->is_string()) throw DecodeFailure{std::string("key \"") + key + "\" is not a string"};
    return value->get<std::string>();
}

std::optional<std::string> optionalString(const Json& object, const char* key) {
    if (!member(object, key)) return std::nullopt;
    return requiredString(object, key);
}

int64_t requiredInteger(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (!value) throw DecodeFailure{std::string("key \"") + key + "\" is missing"};
    if (value->is_number_unsigned()) {
        if (value->get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            throw DecodeFailure{std::string("key \"") + key + "\" is out of range"};
        }
        return static_cast<int64_t>(value->get<uint64_t>());
    }
    if (!value->is_number_integer()) throw DecodeFailure{std::string("key \"") + key + "\" is not an integer"};
    return value->get<int64_t>();
}

bool optionalBool(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (!value) return false;
    if (!value->is_boolean()) throw DecodeFailure{std::string("key \"") + key + "\" is not a boolean"};
    return value->get<bool>();
}

WirelessAdbCallbackDevice decodeDevice(const Json& object) {
    if (!object.is_object()) throw DecodeFailure{"key \"device\" is not an object"};
    return {optionalString(object, "serial"), requiredString(object, "ip"), requiredInteger(object, "adbPort"),
            optionalBool(object, "adbEnabled"), optionalBool(object, "tcpPortOpen")};
}

}  // namespace

std::variant<WirelessAdbCallback, std::string> WirelessAdbCallback::decode(std::string_view body) {
    Json object;
    try {
        object = Json::parse(body);
    } catch (const Json::exception& error) {
        return std::string(error.what());
    }
    if (!object.is_object()) return std::string("the body is not a JSON object");
    try {
        WirelessAdbCallback callback;
        callback.type = requiredString(object, "type");
        callback.version = requiredInteger(object, "version");
        callback.action = optionalString(object, "action");
        callback.sessionId = requiredString(object, "sessionId");
        callback.status = requiredString(object, "status");
        if (const Json* device = member(object, "device")) callback.device = decodeDevice(*device);
        callback.errorCode = optionalString(object, "errorCode");
        callback.message = optionalString(object, "message");
        return callback;
    } catch (const DecodeFailure& failure) {
        return failure.text;
    }
}

}  // namespace orvan
