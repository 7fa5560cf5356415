#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/MainWindow.h"
#include "app/ScanPage.h"
#include "network/WirelessAdbWifiCredentialStore.h"
#include "support/FakeSecretStore.h"
#include "app/TestAppOptions.h"
#include "support/TempDir.h"

namespace orvan {
namespace {

// The scan page inside the launched app, on a fake Wi-Fi and keyring and a loopback callback
// server: the password card leads to a sharp enable code; the mode buttons switch pages.
TEST(ScanPageView, PasswordCardLeadsToASharpCodeAndModeButtonsSwitchPages) {
    testing::TempDir root{"orvan-scan-view"};
    auto wifi = std::make_shared<FakeWifiSystem>();
    wifi->set("扫码测试网络", "WPA", {"wlan-test"});
    auto secrets = std::make_shared<FakeSecretStore>();
    auto options = testing::appOptions(root.path(), root.path() / "tools", 41997);
    options.wifi = wifi;
    options.wifiCredentials = std::make_shared<WirelessAdbWifiCredentialStore>(secrets);
    AppDelegate delegate(options);
    delegate.applicationDidFinishLaunching();
    auto& window = delegate.window();
    ScanPage& page = *window.scanPage();
    ASSERT_EQ(window.activeMirrorPageMode(), MirrorPageMode::scan);

    auto* card = page.findChild<QWidget*>("wifiPasswordCard");
    ASSERT_TRUE(QTest::qWaitFor([&] { return card->isVisibleTo(&page); }, 20000));
    EXPECT_EQ(page.findChild<QLabel*>("wifiPasswordPromptLabel")->text(), "请填写当前 WiFi 扫码测试网络 的 WiFi 密码");
    auto* secure = page.findChild<QLineEdit*>("inlineWifiPasswordField");
    auto* plain = page.findChild<QLineEdit*>("inlinePlainWifiPasswordField");
    EXPECT_EQ(secure->echoMode(), QLineEdit::Password);
    QTest::keyClicks(secure, "abcd1234");
    QTest::mouseClick(page.findChild<QPushButton*>("inlineTogglePasswordVisibilityButton"), Qt::LeftButton);
    EXPECT_TRUE(plain->isVisibleTo(&page));
    EXPECT_FALSE(secure->isVisibleTo(&page));
    EXPECT_EQ(plain->text(), "abcd1234");
    page.findChild<QCheckBox*>("inlineRememberPasswordCheckbox")->setChecked(true);
    QTest::mouseClick(page.findChild<QPushButton*>("saveWifiPasswordButton"), Qt::LeftButton);

    // Saved in the keyring, and the code drawn with it: whole pixels per module, never smoothed.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.qrImageView()->pixmap().isNull(); }, 20000));
    EXPECT_TRUE(secrets->item(WirelessAdbWifiCredentialStore::kService, "扫码测试网络").has_value());
    QImage image = page.qrImageView()->pixmap().toImage();
    EXPECT_GE(image.width(), ScanPage::kQrBox / 2);
    EXPECT_LE(image.width(), ScanPage::kQrBox);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ASSERT_TRUE(qGray(image.pixel(x, y)) % 255 == 0) << x << "," << y;

    QTest::mouseClick(window.findChild<QPushButton*>("manualModeButton"), Qt::LeftButton);
    EXPECT_EQ(window.activeMirrorPageMode(), MirrorPageMode::traditional);
    EXPECT_FALSE(page.isVisibleTo(&window));
}

}  // namespace
}  // namespace orvan
