#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "adb/ConnectedAdbDevice.h"

namespace orvan {

// The rules of the manual page's device tabs: one tab per pair of glasses, however many routes
// (USB, Wi-Fi, remembered) reach it.

// `devices` then `recent`, with every record folded into the first one that is the same glasses.
// Connected devices therefore come before recent-only ones.
std::vector<ConnectedAdbDevice> mergedDevices(const std::vector<ConnectedAdbDevice>& devices,
                                              const std::vector<ConnectedAdbDevice>& recent);

// The tab's title: the display name, shortened to 7 + "..." + 4 characters from 15 characters
// on, then " · 投屏中" while it mirrors. Control characters become blanks so that a strange
// model name cannot break the tab row.
std::string tabTitle(const ConnectedAdbDevice& device, bool mirroring);
// "型号: ", "DeviceId: " and "IP: " lines, each only when the value exists.
std::string tabTooltip(const ConnectedAdbDevice& device);

// Index of the tab to select after a re-render: the one that is the same glasses as the previous
// selection, else the first; none without devices.
std::optional<size_t> keptSelection(const std::vector<ConnectedAdbDevice>& devices,
                                    const std::optional<ConnectedAdbDevice>& previous);

// For each fresh record of the quick listing, the details the last full detection knew.
std::vector<ConnectedAdbDevice> withKnownDetails(const std::vector<ConnectedAdbDevice>& fresh,
                                                 const std::vector<ConnectedAdbDevice>& known);

// Text safe for a one-line label: control characters (newlines, tabs, escapes) become blanks.
std::string singleLine(const std::string& text);
// User-perceived characters (grapheme clusters) of UTF-8 text.
std::vector<std::string> characters(const std::string& text);

}  // namespace orvan
