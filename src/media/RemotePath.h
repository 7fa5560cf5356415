#pragma once

#include <string>
#include <string_view>

namespace orvan {

// Path rules for directories on the glasses, as the export window's path field and "up" button
// use them.

// The window's title for the default view; it and the empty path stand for "/sdcard".
inline constexpr const char* kDefaultMediaTitle = "默认媒体目录";

// Trimmed; empty or the default-view title gives "/sdcard"; a missing leading "/" is added.
// Trailing slashes stay.
std::string normalizeRemoteDirectory(std::string_view path);
// "/" + directory without its outer slashes + "/" + name; the name is kept as it is.
std::string joinRemotePath(std::string_view directory, std::string_view name);
// The directory one level up; "/sdcard" and "/" go to "/sdcard", a top-level folder to "/".
std::string parentRemoteDirectory(std::string_view path);
// The last component of a remote path (the whole text when it has no "/").
std::string lastPathComponent(std::string_view path);
// The folder holding a remote file: "/a/b/c.jpg" gives "/a/b", "/c.jpg" gives "/".
std::string remoteFolderOf(std::string_view path);
// One word for the glasses' shell whatever the text holds (spaces, quotes, ";", "$", line
// breaks): `adb shell` hands its arguments to that shell as one command line.
std::string remoteShellQuoted(std::string_view text);

}  // namespace orvan
