#include "platform/LibsecretSecretStore.h"

// No Qt header may come near this file: GIO has a member called `signals`.
#include <libsecret/secret.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace orvan {
namespace {

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
            if (!finished_.wait_for(lock, timeout, [this] { return done_; })) g_cancellable_cancel(cancellable_);
        });
    }
    ~CallDeadline() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        finished_.notify_all();
        watchdog_.join();
        g_object_unref(cancellable_);
    }
    CallDeadline(const CallDeadline&) = delete;
    CallDeadline& operator=(const CallDeadline&) = delete;
    GCancellable* cancellable() const { return cancellable_; }

private:
    GCancellable* cancellable_;
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
    SecretService* service = nullptr;
    int32_t status = secret_status::success;
    ~Connection() {
        if (service) g_object_unref(service);
    }
};

void connect(Connection& connection, GCancellable* cancellable) {
    GError* error = nullptr;
    connection.service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, cancellable, &error);
    if (!error) return;
    int32_t status = consume(error);
    // Without a bus or a provider every error here means the same to the user.
    connection.status = status == secret_status::timedOut ? status : secret_status::serviceUnavailable;
    // Drop the shared proxy so that the next call connects afresh (the daemon may come back).
    secret_service_disconnect();
}

GHashTable* attributesOf(const std::string& service, const std::string& account) {
    return secret_attributes_build(itemSchema(), "service", service.c_str(), "account", account.c_str(), nullptr);
}

// The items of (service, account), unlocked ones first; status on failure.
GList* search(SecretService* secretService, const std::string& service, const std::string& account,
              SecretSearchFlags flags, GCancellable* cancellable, int32_t& status) {
    GHashTable* attributes = attributesOf(service, account);
    GError* error = nullptr;
    GList* items =
        secret_service_search_sync(secretService, itemSchema(), attributes,
                                   static_cast<SecretSearchFlags>(flags | SECRET_SEARCH_ALL), cancellable, &error);
    g_hash_table_unref(attributes);
    status = consume(error);
    return items;
}

void freeItems(GList* items) {
    g_list_free_full(items, g_object_unref);
}

// The default collection when it exists and is open; otherwise the reason it cannot be used
// without the user (missing: creating one prompts; locked: unlocking prompts).
SecretCollection* openDefaultCollection(SecretService* service, GCancellable* cancellable, int32_t& status,
                                        bool& missing) {
    GError* error = nullptr;
    SecretCollection* collection = secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT,
                                                                    SECRET_COLLECTION_NONE, cancellable, &error);
    status = consume(error);
    missing = status == secret_status::success && !collection;
    if (status != secret_status::success) return nullptr;
    if (!collection || secret_collection_get_locked(collection)) {
        if (collection) g_object_unref(collection);
        status = secret_status::interactionNotAllowed;
        return nullptr;
    }
    return collection;
}

bool anyLocked(GList* items) {
    for (GList* entry = items; entry; entry = entry->next) {
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
    GList* items =
        search(connection.service, service, account, SECRET_SEARCH_LOAD_SECRETS, deadline.cancellable(), status);
    if (status != secret_status::success) return {status, std::nullopt};
    if (!items) {
        // Some providers hide the items of a locked collection: an empty answer from a locked or
        // missing default collection is not a proof that nothing is stored.
        bool missing = false;
        SecretCollection* collection =
            openDefaultCollection(connection.service, deadline.cancellable(), status, missing);
        if (collection) g_object_unref(collection);
        return {status == secret_status::success ? secret_status::itemNotFound : status, std::nullopt};
    }
    SecretLookup lookup{secret_status::interactionNotAllowed, std::nullopt};
    auto* first = SECRET_ITEM(items->data);
    if (!secret_item_get_locked(first)) {
        SecretValue* value = secret_item_get_secret(first);
        if (value) {
            gsize length = 0;
            const gchar* bytes = secret_value_get(value, &length);
            lookup = {secret_status::success, std::string(bytes, length)};
            secret_value_unref(value);
        } else {
            lookup = {secret_status::failed, std::nullopt};  // open, yet the service sent no secret
        }
    }
    freeItems(items);
    return lookup;
}

int32_t LibsecretSecretStore::save(const std::string& service, const std::string& account, const std::string& label,
                                   const std::string& data) {
    CallDeadline deadline(timeout_);
    Connection connection;
    connect(connection, deadline.cancellable());
    if (!connection.service) return connection.status;
    int32_t status = secret_status::success;
    GList* items = search(connection.service, service, account, SECRET_SEARCH_NONE, deadline.cancellable(), status);
    if (status != secret_status::success) return status;
    SecretValue* value = secret_value_new(data.data(), static_cast<gssize>(data.size()), "text/plain");
    GError* error = nullptr;
    if (items) {
        // Update the data of the existing item in place; its label and attributes stay.
        auto* item = SECRET_ITEM(items->data);
        if (secret_item_get_locked(item)) {
            status = secret_status::interactionNotAllowed;
        } else {
            secret_item_set_secret_sync(item, value, deadline.cancellable(), &error);
            status = consume(error);
        }
    } else {
        bool missing = false;
        SecretCollection* collection =
            openDefaultCollection(connection.service, deadline.cancellable(), status, missing);
        if (collection) {
            GHashTable* attributes = attributesOf(service, account);
            SecretItem* created = secret_item_create_sync(collection, itemSchema(), attributes, label.c_str(), value,
                                                          SECRET_ITEM_CREATE_REPLACE, deadline.cancellable(), &error);
            g_hash_table_unref(attributes);
            if (created) g_object_unref(created);
            status = consume(error);
            g_object_unref(collection);
        }
    }
    secret_value_unref(value);
    freeItems(items);
    return status;
}

int32_t LibsecretSecretStore::remove(const std::string& service, const std::string& account) {
    CallDeadline deadline(timeout_);
    Connection connection;
    connect(connection, deadline.cancellable());
    if (!connection.service) return connection.status;
    int32_t status = secret_status::success;
    GList* items = search(connection.service, service, account, SECRET_SEARCH_NONE, deadline.cancellable(), status);
    if (status != secret_status::success) return status;
    if (!items) {
        // Nothing to delete, unless a locked collection hides it. With no collection at all
        // nothing can be stored, so that is a plain "not found".
        bool missing = false;
        SecretCollection* collection =
            openDefaultCollection(connection.service, deadline.cancellable(), status, missing);
        if (collection) g_object_unref(collection);
        return status == secret_status::success || missing ? secret_status::itemNotFound : status;
    }
    // Delete nothing unless every match can go: a half-done delete would keep a stale password.
    if (anyLocked(items)) {
        freeItems(items);
        return secret_status::interactionNotAllowed;
    }
    for (GList* entry = items; entry && status == secret_status::success; entry = entry->next) {
        GError* error = nullptr;
        secret_item_delete_sync(SECRET_ITEM(entry->data), deadline.cancellable(), &error);
        status = consume(error);
    }
    freeItems(items);
    return status;
}

}  // namespace orvan
