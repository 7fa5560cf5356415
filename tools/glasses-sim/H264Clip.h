#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvan::sim {

// A short H.264 test pattern cut the way the scrcpy server sends video: one config packet
// (SPS and PPS) and one access unit per media packet, all in Annex-B with their start codes.
struct H264Clip {
    struct Frame {
        std::string bytes;
        bool key = false;  // holds an IDR slice
    };
    int width = 0;
    int height = 0;
    std::string config;
    std::vector<Frame> frames;
};

// Cuts an Annex-B elementary stream (baseline, no B-frames) into the config and access units.
// Throws std::invalid_argument when there is no SPS/PPS or no slice.
H264Clip splitAnnexB(std::string_view stream, int width, int height);

// The test pattern at a size: the clip made at build time when it has that size, otherwise one
// encoded now with the `ffmpeg` program (once per size and process). Throws std::runtime_error
// when neither is possible.
std::shared_ptr<const H264Clip> testPatternClip(int width, int height);

}  // namespace orvan::sim
