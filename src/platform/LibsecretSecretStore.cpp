#include "platform/LibsecretSecretStore.h"

// No Qt header may come near this file: GIO has a member called `signals`.
#include <libsecret/secret.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace orvan {
namespace {

// Owners of what GLib and libsecret hand out: each frees its object once, on every path.
struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using ObjectPtr = std::unique_ptr<T, ObjectUnref>;
struct ItemListFree {
    void operator()(GList* items) const { g_list_free_full(items, g_object_unref); }
};
using ItemList = std::unique_ptr<GList, ItemListFree>;
struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using HashTablePtr = std::unique_ptr<GHashTable, HashTableUnref>;
struct SecretValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using SecretValuePtr = std::unique_ptr<SecretValue, SecretValueUnref>;

const SecretSchema* itemSchema() {
    // Items written by other tools (another schema name) match too: only the attributes count.
    static const SecretSchema schema = [] {
        SecretSchema built{};
        built.name = "com.orvan.mirror.GenericPassword";
        built.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        built.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        built.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return built;
    }();
    return &schema;
}

// Cancels the operation's D-Bus calls when its time is up; the sync calls then return at once
// with G_IO_ERROR_CANCELLED.
class CallDeadline {
public:
    explicit CallDeadline(Seconds timeout) : cancellable_(g_cancellable_new()) {
        watchdog_ = std::thread([this, timeout] {
            std::unique_lock lock(mutex_);
            if (!finished_.wait_for(lock, timeout, [this] { return done_; })) g_cancellable_cancel(cancellable_.get());
        });
    }
    ~CallDeadline() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        finished_.notify_all();
        watchdog_.join();
    }
    CallDeadline(const CallDeadline&) = delete;
    CallDeadline& operator=(const CallDeadline&) = delete;
    GCancellable* cancellable() const { return cancellable_.get(); }

private:
    ObjectPtr<GCancellable> cancellable_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    std::thread watchdog_;
};

// Decisions rest on the error's domain and code; libsecret strips the remote error names and
// the message texts are translated.
int32_t statusOf(const GError* error) {
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return secret_status::timedOut;
    if (error->domain == SECRET_ERROR) {
        if (error->code == SECRET_ERROR_IS_LOCKED) return secret_status::interactionNotAllowed;
        if (error->code == SECRET_ERROR_NO_SUCH_OBJECT) return secret_status::itemNotFound;
        return secret_status::failed;
    }
    if (error->domain == G_DBUS_ERROR) {
        switch (error->code) {
            case G_DBUS_ERROR_SERVICE_UNKNOWN:
            case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
            case G_DBUS_ERROR_NO_SERVER:
            case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
            case G_DBUS_ERROR_DISCONNECTED:
                return secret_status::serviceUnavailable;
            case G_DBUS_ERROR_NO_REPLY:
            case G_DBUS_ERROR_TIMEOUT:
            case G_DBUS_ERROR_TIMED_OUT:
                return secret_status::timedOut;
            // The collection path does not exist: making one would need the user.
            case G_DBUS_ERROR_UNKNOWN_METHOD:
            case G_DBUS_ERROR_UNKNOWN_OBJECT:
                return secret_status::interactionNotAllowed;
            default:
                return secret_status::failed;
        }
    }
    return secret_status::failed;
}

// Takes a GError out parameter's result and turns it into a status (success when none).
int32_t consume(GError*& error) {
    if (!error) return secret_status::success;
    int32_t status = statusOf(error);
    g_clear_error(&error);
    return status;
}

struct Connection {
    ObjectPtr<SecretService> service;
    int32_t status = secret_status::success;
};

void connect(Connection& connection, GCancellable* cancellable) {
    GError* error = nullptr;
    connection.service.reset(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, cancellable, &error));
    if (!error) return;
    int32_t status = consume(error);
    // Without a bus or a provider every error here means the same to the user.
    connection.status = status == secret_status::timedOut ? status : secret_status::serviceUnavailable;
    // Drop the shared proxy so that the next call connects afresh (the daemon may come back).
    secret_service_disconnect();
}

HashTablePtr attributesOf(const std::string& service, const std::string& account) {
    return HashTablePtr(
        secret_attributes_build(itemSchema(), "service", service.c_str(), "account", account.c_str(), nullptr));
}

// The items of (service, account), unlocked ones first; status on failure.
ItemList search(SecretService* secretService, const std::string& service, const std::string& account,
                SecretSearchFlags flags, GCancellable* cancellable, int32_t& status) {
    auto attributes = attributesOf(service, account);
    GError* error = nullptr;
    ItemList items(secret_service_search_sync(secretService, itemSchema(), attributes.get(),
                                              static_cast<SecretSearchFlags>(flags | SECRET_SEARCH_ALL), cancellable,
                                              &error));
    status = consume(error);
    return items;
}

// The default collection when it exists and is open; otherwise the reason it cannot be used
// without the user (missing: creating one prompts; locked: unlocking prompts).
ObjectPtr<SecretCollection> openDefaultCollection(SecretService* service, GCancellable* cancellable,
                                                  int32_t& status, bool& missing) {
    GError* error = nullptr;
    ObjectPtr<SecretCollection> collection(secret_collection_for_alias_sync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, cancellable, &error));
    status = consume(error);
    missing = status == secret_status::success && !collection;
    if (status != secret_status::success) return nullptr;
    if (!collection || secret_collection_get_locked(collection.get())) {
        status = secret_status::interactionNotAllowed;
        return nullptr;
    }
    return collection;
}

bool anyLocked(const ItemList& items) {
    for (GList* entry = items.get(); entry; entry = entry->next) {
        if (secret_item_get_locked(SECRET_ITEM(entry->data))) return true;
    }
    return false;
}

}  // namespace

SecretLookup LibsecretSecretStore::find(const std::string& service, const std::string& account) {
    CallDeadline deadline(timeout_);
    Connection connection;
    connect(connection, deadline.cancellable());
    if (!connection.service) return {connection.status, std::nullopt};
    int32_t status = secret_status::success;
    auto items = search(connection.service.get(), service, account, SECRET_SEARCH_LOAD_SECRETS,
                        deadline.cancellable(), status);
    if (status != secret_status::success) return {status, std::nullopt};
    if (!items) {
        // Some providers hide the items of a locked collection: an empty answer from a locked or
        // missing default collection is not a proof that nothing is stored.
        bool missing = false;
        openDefaultCollection(connection.service.get(), deadline.cancellable(), status, missing);
        return {status == secret_status::success ? secret_status::itemNotFound : status, std::nullopt};
    }
    auto* first = SECRET_ITEM(items->data);
    if (secret_item_get_locked(first)) return {secret_status::interactionNotAllowed, std::nullopt};
    SecretValuePtr value(secret_item_get_secret(first));
    if (!value) return {secret_status::failed, std::nullopt};  // open, yet the service sent no secret
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    return {secret_status::success, std::string(bytes, length)};
}

int32_t LibsecretSecretStore::save(const std::string& service, const std::string& account, const std::string& label,
                                   const std::string& data) {
    CallDeadline deadline(timeout_);
    Connection connection;
    connect(connection, deadline.cancellable());
    if (!connection.service) return connection.status;
    int32_t status = secret_status::success;
    auto items = search(connection.service.get(), service, account, SECRET_SEARCH_NONE, deadline.cancellable(), status);
    if (status != secret_status::success) return status;
    SecretValuePtr value(secret_value_new(data.data(), static_cast<gssize>(data.size()), "text/plain"));
    GError* error = nullptr;
    if (items) {
        // Update the data of the existing item in place; its label and attributes stay.
        auto* item = SECRET_ITEM(items->data);
        if (secret_item_get_locked(item)) {
            status = secret_status::interactionNotAllowed;
        } else {
            secret_item_set_secret_sync(item, value.get(), deadline.cancellable(), &error);
            status = consume(error);
        }
    } else {
        bool missing = false;
        auto collection = openDefaultCollection(connection.service.get(), deadline.cancellable(), status, missing);
        if (collection) {
            auto attributes = attributesOf(service, account);
            ObjectPtr<SecretItem> created(secret_item_create_sync(collection.get(), itemSchema(), attributes.get(),
                                                                  label.c_str(), value.get(),
                                                                  SECRET_ITEM_CREATE_REPLACE, deadline.cancellable(),
                                                                  &error));
            status = consume(error);
        }
    }
    return status;
}

int32_t LibsecretSecretStore::remove(const std::string& service, const std::string& account) {
    CallDeadline deadline(timeout_);
    Connection connection;
    connect(connection, deadline.cancellable());
    if (!connection.service) return connection.status;
    int32_t status = secret_status::success;
    auto items = search(connection.service.get(), service, account, SECRET_SEARCH_NONE, deadline.cancellable(), status);
    if (status != secret_status::success) return status;
    if (!items) {
        // Nothing to delete, unless a locked collection hides it. With no collection at all
        // nothing can be stored, so that is a plain "not found".
        bool missing = false;
        openDefaultCollection(connection.service.get(), deadline.cancellable(), status, missing);
        return status == secret_status::success || missing ? secret_status::itemNotFound : status;
    }
    // Delete nothing unless every match can go: a half-done delete would keep a stale password.
    if (anyLocked(items)) return secret_status::interactionNotAllowed;
    for (GList* entry = items.get(); entry && status == secret_status::success; entry = entry->next) {
        GError* error = nullptr;
        secret_item_delete_sync(SECRET_ITEM(entry->data), deadline.cancellable(), &error);
        status = consume(error);
    }
    return status;
}

}  // namespace orvan
