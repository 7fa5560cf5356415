#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <signal.h>

#include <cstdlib>

#include "platform/LibsecretSecretStore.h"
#include "support/CommandRun.h"

namespace orvan {
namespace {

constexpr const char* kService = "com.orvan.mirror.wifi-password";

// Runs under tests/support/with-secret-service: a real GNOME Keyring on a bus of its own.
class SecretStoreE2e : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("ORVAN_TEST_KEYRING_PID")) GTEST_SKIP() << "needs tests/support/with-secret-service";
    }
    static pid_t keyringPid() { return static_cast<pid_t>(std::atol(std::getenv("ORVAN_TEST_KEYRING_PID"))); }

    // As a screen lock would; locking never prompts (unlocking would).
    static void lockDefaultCollection() {
        SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
        SecretCollection* login = secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT,
                                                                   SECRET_COLLECTION_NONE, nullptr, nullptr);
        GList* objects = g_list_append(nullptr, login);
        EXPECT_EQ(secret_service_lock_sync(service, objects, nullptr, nullptr, nullptr), 1);
        g_list_free(objects);
        g_object_unref(login);
        g_object_unref(service);
    }

    LibsecretSecretStore store_;
};

TEST_F(SecretStoreE2e, SavesReadsReplacesInPlaceAndDeletesOneAccountOnly) {
    const std::string secret = "pa:ss\\word 密码\n";
    EXPECT_EQ(store_.find(kService, "Lab").status, secret_status::itemNotFound);
    EXPECT_EQ(store_.remove(kService, "Lab"), secret_status::itemNotFound);
    EXPECT_EQ(store_.save(kService, "Lab", "Orvan Mirror Wi-Fi：Lab", secret), secret_status::success);
    EXPECT_EQ(store_.save(kService, "Lab 2", "Orvan Mirror Wi-Fi：Lab 2", "other"), secret_status::success);
    auto found = store_.find(kService, "Lab");
    EXPECT_EQ(found.status, secret_status::success);
    EXPECT_EQ(found.data, secret);

    EXPECT_EQ(store_.save(kService, "Lab", "a label that is not used", "new"), secret_status::success);
    EXPECT_EQ(store_.find(kService, "Lab").data, "new");
    auto listing = testing::runCommand(
        {"/usr/bin/secret-tool", "search", "--all", "service", kService, "account", "Lab"}, std::chrono::seconds(10));
    EXPECT_NE(listing.out.find("label = Orvan Mirror Wi-Fi：Lab\n"), std::string::npos) << listing.out;
    EXPECT_EQ(listing.out.find("label = ", listing.out.find("label = ") + 1), std::string::npos) << "two items";

    EXPECT_EQ(store_.remove(kService, "Lab"), secret_status::success);
    EXPECT_EQ(store_.find(kService, "Lab").status, secret_status::itemNotFound);
    EXPECT_EQ(store_.find(kService, "Lab 2").data, "other");
}

TEST_F(SecretStoreE2e, ALockedKeyringRefusesEveryCallInsteadOfPrompting) {
    ASSERT_EQ(store_.save(kService, "Lab", "Orvan Mirror Wi-Fi：Lab", "secret"), secret_status::success);
    lockDefaultCollection();
    EXPECT_EQ(store_.find(kService, "Lab").status, secret_status::interactionNotAllowed);
    EXPECT_EQ(store_.find(kService, "Other").status, secret_status::interactionNotAllowed);
    EXPECT_EQ(store_.save(kService, "Lab", "label", "changed"), secret_status::interactionNotAllowed);
    EXPECT_EQ(store_.save(kService, "Other", "label", "new"), secret_status::interactionNotAllowed);
    EXPECT_EQ(store_.remove(kService, "Lab"), secret_status::interactionNotAllowed);
}

TEST_F(SecretStoreE2e, AStalledServiceEndsEachCallAtItsTimeOut) {
    ASSERT_EQ(store_.save(kService, "Lab", "Orvan Mirror Wi-Fi：Lab", "secret"), secret_status::success);
    ASSERT_EQ(::kill(keyringPid(), SIGSTOP), 0);
    LibsecretSecretStore impatient(Seconds(1.0));
    EXPECT_EQ(impatient.find(kService, "Lab").status, secret_status::timedOut);
    EXPECT_EQ(impatient.save(kService, "Lab", "label", "x"), secret_status::timedOut);
    ASSERT_EQ(::kill(keyringPid(), SIGCONT), 0);
    EXPECT_EQ(store_.find(kService, "Lab").data, "secret");
}

}  // namespace
}  // namespace orvan
