#include "mirror/ScrcpyFailureCause.h"

#include "foundation/Text.h"

namespace orvan {
namespace {

// "The server version (S) does not match the client (C)": S and C, empty when not found.
void readVersions(std::string_view output, ScrcpyFailure& failure) {
    auto inParentheses = [&](std::string_view after) -> std::string {
        size_t at = output.find(after);
        if (at == std::string_view::npos) return {};
        size_t open = output.find('(', at + after.size());
        size_t close = output.find(')', open == std::string_view::npos ? open : open + 1);
        if (open == std::string_view::npos || close == std::string_view::npos || close - open > 40) return {};
        return std::string(output.substr(open + 1, close - open - 1));
    };
    failure.serverVersion = inParentheses("The server version");
    failure.clientVersion = inParentheses("does not match the client");
}

}  // namespace

ScrcpyFailure classifyScrcpyFailure(std::string_view output) {
    ScrcpyFailure failure;
    // The most specific cause wins: a mismatch or a refused key also ends in a lost connection.
    if (text::containsAnyPhrase(output, {"does not match the client"})) {
        failure.cause = ScrcpyFailureCause::versionMismatch;
        readVersions(output, failure);
    } else if (text::containsAnyPhrase(output, {"device is unauthorized", "device unauthorized"})) {
        failure.cause = ScrcpyFailureCause::deviceUnauthorized;
    } else if (text::containsAnyPhrase(output, {"(state=offline)", "device offline"})) {
        failure.cause = ScrcpyFailureCause::deviceOffline;
    } else if (text::containsAnyPhrase(output, {"unrecognized option", "unknown option", "invalid option"})) {
        failure.cause = ScrcpyFailureCause::unsupportedOption;
    } else if (text::containsAnyPhrase(output, {"device disconnected", "stream disabled due to connection error",
                                                "could not find adb device", "connection reset", "broken pipe",
                                                "protocol fault"})) {
        failure.cause = ScrcpyFailureCause::transportLost;
    }
    return failure;
}

}  // namespace orvan
