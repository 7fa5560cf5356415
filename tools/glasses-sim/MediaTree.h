#pragma once

#include <cstdint>
#include <string>

#include "glasses-sim/DeviceStorage.h"

namespace orvan::sim {

// Lays out "/" like the glasses': /storage/emulated/0 with /sdcard linking to it.
void prepareStorageRoot(const std::string& hostRoot);

// Fills shared storage with real small photos and videos: the default camera, album, movie,
// picture and download folders, names with spaces and upper-case suffixes, nested folders,
// files that are not media, and `bulkCount` photos in `bulkFolder`.
void createMediaTree(const DeviceStorage& storage, const std::string& bulkFolder, int bulkCount);

// Small but valid files of each kind; `seed` varies the picture so files differ.
std::string makeJpeg(int width, int height, int seed);
std::string makePng(int width, int height, int seed);
std::string makeMp4(int seed);
std::string makeHeic(int seed);

}  // namespace orvan::sim
