#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "media/MediaBrowserItem.h"

namespace orvan {

// The glasses' `ls -la` output (toybox: permissions, links, owner, group, size, date, time,
// name) as media items: directories, and files with a photo or video suffix (".jpg", ".jpeg",
// ".png", ".mp4", ".mov", ".heic", any case). Other lines (total, links, errors, garbage) give
// nothing; never fails. A name is the rest of the line after the time field, exactly (two
// spaces stay two). Sorted: directories first, then by name in natural order.
std::vector<MediaBrowserItem> parseDirectoryListing(std::string_view directory, std::string_view output);

// Whether the output holds a line of an `ls -l` listing ("total N" or a permission string with
// its fields), so that a failing run still listed something.
bool hasListingLine(std::string_view output);

// The bytes as UTF-8, each invalid sequence replaced by U+FFFD: one bad file name must not hide
// the other entries of a folder.
std::string decodeLossy(std::string_view bytes);

}  // namespace orvan
