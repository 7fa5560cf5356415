#include <gtest/gtest.h>

#include <map>

#include "network/WifiNameAuthorization.h"
#include "platform/Dispatch.h"

namespace orvan {
namespace {

struct Recorder {
    std::map<std::string, int> calls;
    std::string failure;
    WifiNameAuthorization::Hooks hooks() {
        auto count = [this](const char* name) { return [this, name] { ++calls[name]; }; };
        return {
            count("refresh"),          count("regenerate"),      [this](const std::string& text) { failure = text; },
            [](const std::string&) {}, count("setup"),           [this] { return ++calls["settings"], false; },
            count("localNetwork"),     [](const std::string&) {}};
    }
};

TEST(WifiNameAuthorization, AnUnansweredPromptLeadsToTheSettingsAndALaterGrantToTheSetupWindow) {
    auto main = std::make_shared<ManualMainQueue>();
    Dispatch::setMain(main);
    FakeLocationProvider location(LocationAuthorization::notDetermined);
    Recorder recorder;
    auto flows = std::make_shared<WifiNameAuthorization>(location, recorder.hooks());
    flows->start();
    EXPECT_TRUE(flows->wifiAuthorizationRequired());
    flows->requestFromFailure();
    EXPECT_EQ(location.requests(), 2);
    ASSERT_TRUE(main->runUntil([&] { return !recorder.failure.empty(); }, Seconds(10)));
    EXPECT_EQ(recorder.failure, WifiNameAuthorization::kNoPromptFailure);
    EXPECT_EQ(recorder.calls["settings"], 1);

    location.change(LocationAuthorization::authorizedWhenInUse);
    ASSERT_TRUE(main->runUntil([&] { return recorder.calls["setup"] == 1; }, Seconds(10)));
    EXPECT_EQ(
        (std::vector<int>{recorder.calls["refresh"], recorder.calls["regenerate"], recorder.calls["localNetwork"]}),
        (std::vector<int>{1, 1, 1}));
    EXPECT_FALSE(flows->isWaitingForAuthorization());
}

}  // namespace
}  // namespace orvan
