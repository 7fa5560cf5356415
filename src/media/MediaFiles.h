#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

namespace orvan {

// Local files of the media export: export folders, exported files and the preview cache.

// "OrvanMedia_" + the local time as yyyyMMdd_HHmmss.
std::string exportFolderName(std::chrono::system_clock::time_point time);

// Creates the export folder inside `parent` (made first, with intermediate folders), never
// reusing one: "<name>", else "<name>_2", "<name>_3", ... Throws MirrorError with the system's
// reason when it cannot be made.
std::filesystem::path createExportFolder(const std::filesystem::path& parent, const std::string& name);

// dir/name, or the first free "<base>_<n>.<extension>" for n = 2, 3, ...
std::filesystem::path uniqueExportFileUrl(const std::string& name, const std::filesystem::path& dir);

// An empty hidden file in `dir` to pull into; the finished file is renamed into place, so a
// cut-off pull never sits under a real name. Throws MirrorError when it cannot be made.
std::filesystem::path makePartialFile(const std::filesystem::path& dir);

// Renames a finished pull to uniqueExportFileUrl(name, dir) without ever replacing a file that
// appeared meanwhile. Returns the name used; throws MirrorError with the system's reason.
std::filesystem::path placeWithoutReplacing(const std::filesystem::path& partial, const std::filesystem::path& dir,
                                            const std::string& name);

// $XDG_CACHE_HOME/OrvanMirror/media-thumbnails, created on demand.
std::filesystem::path mediaThumbnailCacheDirectory();

// The remote path with / \ : * ? " < > | as "_" and outer "_" stripped; a random UUID when
// nothing is left.
std::string sanitizedCacheFileName(std::string_view remotePath);

// The preview cache name of one file of one pair of glasses: a digest of serial and path (so
// "/a/b_c.jpg" and "/a_b/c.jpg", or two pairs' "/x.jpg", never share a file), then the readable
// sanitised serial and path (cut at the front to stay within a file name's length).
std::string previewCacheFileName(std::string_view serial, std::string_view remotePath);

// A new random UUID in upper-case canonical form.
std::string randomUuidString();

}  // namespace orvan
