#pragma once

#include <gtest/gtest.h>
#include <libsecret/secret.h>

namespace orvan::testing {

// Locks the keyring's default collection, as a screen lock would. Locking never prompts
// (unlocking would), so it is safe in tests.
inline void lockDefaultKeyringCollection() {
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    SecretCollection* login =
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, nullptr);
    ASSERT_NE(login, nullptr);
    GList* objects = g_list_append(nullptr, login);
    EXPECT_EQ(secret_service_lock_sync(service, objects, nullptr, nullptr, nullptr), 1);
    g_list_free(objects);
    g_object_unref(login);
    g_object_unref(service);
}

}  // namespace orvan::testing
