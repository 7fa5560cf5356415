#include "media/NaturalOrder.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <tuple>

namespace orvan {

struct NaturalOrder::Collator {
    std::unique_ptr<icu::Collator> icu;
};

NaturalOrder::NaturalOrder(const std::string& locale) : collator_(std::make_unique<Collator>()) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale chosen = locale.empty() ? icu::Locale::getDefault() : icu::Locale(locale.c_str());
    // LANG=C maps to ICU's POSIX locale, whose code-point order puts every capital first: the
    // root rules are what a file browser shows there.
    if (std::string_view(chosen.getVariant()) == "POSIX") chosen = icu::Locale::getRoot();
    collator_->icu.reset(icu::Collator::createInstance(chosen, status));
    if (U_FAILURE(status) || !collator_->icu) {
        // No collation data for the locale: the root rules still order digits and cases.
        status = U_ZERO_ERROR;
        collator_->icu.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
    }
    if (collator_->icu) {
        status = U_ZERO_ERROR;
        // Secondary strength ignores case but keeps accents apart.
        collator_->icu->setStrength(icu::Collator::SECONDARY);
        collator_->icu->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    }
}

NaturalOrder::~NaturalOrder() = default;

std::string NaturalOrder::sortKey(std::string_view name) const {
    if (!collator_->icu) return std::string(name);
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), name.size()));
    std::string key(64, '\0');
    auto bytes = [&key] { return reinterpret_cast<uint8_t*>(key.data()); };
    int32_t length = collator_->icu->getSortKey(text, bytes(), static_cast<int32_t>(key.size()));
    if (length > static_cast<int32_t>(key.size())) {
        key.resize(static_cast<std::size_t>(length));
        length = collator_->icu->getSortKey(text, bytes(), length);
    }
    // The key ends in a zero byte, which would only lengthen every comparison.
    key.resize(length > 0 ? static_cast<std::size_t>(length - 1) : 0);
    return key;
}

void sortMediaItems(std::vector<MediaBrowserItem>& items, bool directoriesFirst) {
    // Collators are not cheap to make; one per thread serves every listing of that thread.
    thread_local const NaturalOrder order;
    std::vector<std::string> keys;
    keys.reserve(items.size());
    for (const auto& item : items) keys.push_back(order.sortKey(item.name));
    std::vector<std::size_t> indices(items.size());
    std::iota(indices.begin(), indices.end(), 0);
    std::stable_sort(indices.begin(), indices.end(), [&](std::size_t a, std::size_t b) {
        const auto& x = items[a];
        const auto& y = items[b];
        const bool xFirst = directoriesFirst && x.isDirectory;
        const bool yFirst = directoriesFirst && y.isDirectory;
        return std::tie(yFirst, keys[a], x.name, x.path) < std::tie(xFirst, keys[b], y.name, y.path);
    });
    std::vector<MediaBrowserItem> sorted;
    sorted.reserve(items.size());
    for (const std::size_t index : indices) sorted.push_back(std::move(items[index]));
    items = std::move(sorted);
}

}  // namespace orvan
