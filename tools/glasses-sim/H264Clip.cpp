#include "glasses-sim/H264Clip.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace orvan::sim {
namespace {

enum NalType { kSliceNonIdr = 1, kSliceIdr = 5, kSps = 7, kPps = 8 };

struct Nal {
    std::size_t start;  // first byte of its start code
    std::size_t payload;  // first byte after the start code
    std::size_t end;
};

std::vector<Nal> findNals(std::string_view s) {
    std::vector<Nal> nals;
    for (std::size_t i = 0; i + 2 < s.size(); ++i) {
        if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
        const std::size_t start = (i > 0 && s[i - 1] == 0) ? i - 1 : i;
        if (!nals.empty()) nals.back().end = start;
        nals.push_back({start, i + 3, s.size()});
        i += 2;
    }
    return nals;
}

// The encoder's command line: baseline 4:2:0 (what the clients decode), one slice per frame
// (-threads 1), a key frame every second.
std::string encoderCommand(int width, int height, const std::string& output) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    return "ffmpeg -hide_banner -loglevel error -nostdin -f lavfi -i testsrc=size=" + size +
           ":rate=30 -frames:v 30 -pix_fmt yuv420p -c:v libx264 -profile:v baseline -preset veryfast -g 30 "
           "-threads 1 -f h264 " + output;
}

std::string encodeNow(int width, int height) {
    std::FILE* pipe = ::popen((encoderCommand(width, height, "-") + " 2>/dev/null").c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run ffmpeg");
    std::string bytes;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) bytes.append(buffer, n);
    if (::pclose(pipe) != 0 || bytes.empty()) {
        throw std::runtime_error("ffmpeg could not encode a " + std::to_string(width) + "x" + std::to_string(height) +
                                 " test pattern");
    }
    return bytes;
}

std::string builtClip(int width, int height) {
#ifdef GLASSES_SIM_CLIP
    if (width == GLASSES_SIM_CLIP_WIDTH && height == GLASSES_SIM_CLIP_HEIGHT) {
        std::ifstream in(GLASSES_SIM_CLIP, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        if (in) return bytes.str();
    }
#endif
    (void)width;
    (void)height;
    return {};
}

}  // namespace

H264Clip splitAnnexB(std::string_view stream, int width, int height) {
    H264Clip clip;
    clip.width = width;
    clip.height = height;
    std::string pending;  // non-slice units (SEI, AUD, ...) waiting for their slice
    for (const Nal& nal : findNals(stream)) {
        if (nal.payload >= nal.end) continue;
        const int type = static_cast<unsigned char>(stream[nal.payload]) & 0x1f;
        const std::string_view unit = stream.substr(nal.start, nal.end - nal.start);
        if ((type == kSps || type == kPps) && clip.frames.empty() && pending.empty()) {
            clip.config.append(unit);
            continue;
        }
        if (type != kSliceNonIdr && type != kSliceIdr) {
            pending.append(unit);
            continue;
        }
        // A slice whose first bit (first_mb_in_slice coded as ue(v) 0) is set starts a frame;
        // any other slice continues the frame before it.
        const bool firstSlice = nal.payload + 1 < nal.end && (static_cast<unsigned char>(stream[nal.payload + 1]) & 0x80);
        if (!firstSlice && !clip.frames.empty() && pending.empty()) {
            clip.frames.back().bytes.append(unit);
            clip.frames.back().key = clip.frames.back().key || type == kSliceIdr;
            continue;
        }
        pending.append(unit);
        clip.frames.push_back({std::exchange(pending, {}), type == kSliceIdr});
    }
    if (clip.config.empty() || clip.frames.empty()) throw std::invalid_argument("no SPS/PPS or no slice in the stream");
    return clip;
}

std::shared_ptr<const H264Clip> testPatternClip(int width, int height) {
    static std::mutex mutex;
    static std::map<std::pair<int, int>, std::shared_ptr<const H264Clip>> clips;
    std::lock_guard lock(mutex);
    auto& clip = clips[{width, height}];
    if (!clip) {
        std::string bytes = builtClip(width, height);
        if (bytes.empty()) bytes = encodeNow(width, height);
        clip = std::make_shared<const H264Clip>(splitAnnexB(bytes, width, height));
    }
    return clip;
}

}  // namespace orvan::sim
