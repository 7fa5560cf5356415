#include "glasses-sim/MediaTree.h"

#include <jpeglib.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "glasses-sim/ByteOrder.h"

namespace orvan::sim {
namespace {

// 2024-05-01 10:00:00 UTC: the listing's times start here, one minute apart.
constexpr std::int64_t kBaseTime = 1714557600;

std::vector<unsigned char> pixels(int width, int height, int seed) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width * height * 3));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &rgb[static_cast<std::size_t>((y * width + x) * 3)];
            p[0] = static_cast<unsigned char>((x * 255 / std::max(1, width - 1) + seed * 37) & 0xff);
            p[1] = static_cast<unsigned char>((y * 255 / std::max(1, height - 1) + seed * 11) & 0xff);
            p[2] = static_cast<unsigned char>(((x + y) * 4 + seed * 53) & 0xff);
        }
    }
    return rgb;
}

std::string box(const char (&type)[5], const std::string& body) {
    std::string out;
    const auto size = static_cast<std::uint32_t>(8 + body.size());
    out.push_back(static_cast<char>(size >> 24));
    out.push_back(static_cast<char>(size >> 16));
    out.push_back(static_cast<char>(size >> 8));
    out.push_back(static_cast<char>(size));
    out.append(type, 4);
    return out + body;
}

std::string be32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}
std::string be16(std::uint16_t v) {
    return {static_cast<char>(v >> 8), static_cast<char>(v)};
}
std::string zeros(std::size_t n) {
    return std::string(n, '\0');
}

std::string fullBox(const char (&type)[5], std::uint32_t versionAndFlags, const std::string& body) {
    return box(type, be32(versionAndFlags) + body);
}

// The 3x3 unity matrix of mvhd and tkhd.
std::string unityMatrix() {
    return be32(0x00010000) + be32(0) + be32(0) + be32(0) + be32(0x00010000) + be32(0) + be32(0) + be32(0) +
           be32(0x40000000);
}

void write(const DeviceStorage& storage, const std::string& path, const std::string& bytes, int minute) {
    if (const int error = storage.writeWholeFile(path, bytes, kBaseTime + minute * 60); error != 0) {
        throw std::runtime_error("cannot create " + path + ": " + std::to_string(error));
    }
}

}  // namespace

std::string makeJpeg(int width, int height, int seed) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> rgb = pixels(width, height, seed);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = &rgb[static_cast<std::size_t>(info.next_scanline) * static_cast<std::size_t>(width) * 3];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string out(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return out;
}

std::string makePng(int width, int height, int seed) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    const std::vector<unsigned char> rgb = pixels(width, height, seed);
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr)) {
        throw std::runtime_error("png sizing failed");
    }
    std::string out(size, '\0');
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, rgb.data(), 0, nullptr)) {
        throw std::runtime_error("png encoding failed");
    }
    out.resize(size);
    return out;
}

std::string makeMp4(int seed) {
    // An ISO base media file with one video track of one sample: enough for file tools and
    // players to recognise it; the sample bytes are not decodable video.
    const std::string sample = std::string(64 + static_cast<std::size_t>(seed % 16), static_cast<char>(seed));
    const std::string ftyp = box("ftyp", std::string("isom") + be32(0x200) + "isomiso2mp41");
    const std::uint32_t timescale = 1000, duration = 1000;
    const std::string mvhd = fullBox("mvhd", 0,
                                     be32(0) + be32(0) + be32(timescale) + be32(duration) + be32(0x00010000) +
                                         be16(0x0100) + zeros(10) + unityMatrix() + zeros(24) + be32(2));
    const std::string tkhd =
        fullBox("tkhd", 3,
                be32(0) + be32(0) + be32(1) + be32(0) + be32(duration) + zeros(8) + be16(0) + be16(0) + be16(0) +
                    be16(0) + unityMatrix() + be32(320u << 16) + be32(240u << 16));
    const std::string mdhd =
        fullBox("mdhd", 0, be32(0) + be32(0) + be32(timescale) + be32(duration) + be16(0x55c4) + be16(0));
    const std::string hdlr = fullBox("hdlr", 0, be32(0) + "vide" + zeros(12) + "VideoHandler" + std::string(1, '\0'));
    const std::string vmhd = fullBox("vmhd", 1, zeros(8));
    const std::string dref = fullBox("dref", 0, be32(1) + fullBox("url ", 1, ""));
    const std::string dinf = box("dinf", dref);
    const std::string sampleEntry =
        box("mp4v", zeros(6) + be16(1) + zeros(16) + be16(320) + be16(240) + be32(0x00480000) + be32(0x00480000) +
                        be32(0) + be16(1) + zeros(32) + be16(0x18) + be16(0xffff));
    const std::string stsd = fullBox("stsd", 0, be32(1) + sampleEntry);
    const std::string stts = fullBox("stts", 0, be32(1) + be32(1) + be32(duration));
    const std::string stsc = fullBox("stsc", 0, be32(1) + be32(1) + be32(1) + be32(1));
    const std::string stsz = fullBox("stsz", 0, be32(0) + be32(1) + be32(static_cast<std::uint32_t>(sample.size())));
    // The chunk offset points into mdat, which follows moov; compute moov's size first.
    auto buildMoov = [&](std::uint32_t offset) {
        const std::string stco = fullBox("stco", 0, be32(1) + be32(offset));
        const std::string stbl = box("stbl", stsd + stts + stsc + stsz + stco);
        const std::string minf = box("minf", vmhd + dinf + stbl);
        const std::string mdia = box("mdia", mdhd + hdlr + minf);
        const std::string trak = box("trak", tkhd + mdia);
        return box("moov", mvhd + trak);
    };
    const std::size_t moovSize = buildMoov(0).size();
    const std::string moov = buildMoov(static_cast<std::uint32_t>(ftyp.size() + moovSize + 8));
    return ftyp + moov + box("mdat", sample);
}

std::string makeHeic(int seed) {
    // Only the brand matters to anything that looks at these files on the computer side.
    return box("ftyp", std::string("heic") + be32(0) + "mif1heic") +
           fullBox("meta", 0, fullBox("hdlr", 0, be32(0) + "pict" + zeros(12) + std::string(1, '\0'))) +
           box("mdat", std::string(48, static_cast<char>(seed)));
}

void prepareStorageRoot(const std::string& hostRoot) {
    namespace fs = std::filesystem;
    fs::create_directories(fs::path(hostRoot) / "storage/emulated/0");
    fs::create_directories(fs::path(hostRoot) / "data/local/tmp");  // where scrcpy pushes its server
    const fs::path link = fs::path(hostRoot) / "sdcard";
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(link, error))) {
        fs::create_symlink("/storage/emulated/0", link);  // resolved inside the root, as on the device
    }
}

void createMediaTree(const DeviceStorage& storage, const std::string& bulkFolder, int bulkCount) {
    int minute = 0;
    const std::string camera = "/sdcard/DCIM/Camera/";
    for (int i = 1; i <= 4; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "IMG_20240501_1%02d000.jpg", i);
        write(storage, camera + name, makeJpeg(64, 48, i), minute++);
    }
    write(storage, camera + "IMG 0001.JPG", makeJpeg(48, 64, 9), minute++);
    write(storage, camera + "IMG_2.jpeg", makeJpeg(32, 32, 2), minute++);
    write(storage, camera + "IMG_10.jpg", makeJpeg(32, 32, 10), minute++);
    write(storage, camera + "VID_20240501_103000.mp4", makeMp4(1), minute++);
    write(storage, camera + "Trip Video.MP4", makeMp4(2), minute++);
    write(storage, camera + "burst.HEIC", makeHeic(3), minute++);
    write(storage, camera + "notes.txt", "not a photo\n", minute++);
    write(storage, camera + ".nomedia", "", minute++);
    storage.makeDirectories("/sdcard/DCIM/Camera/.thumbnails");
    write(storage, "/sdcard/DCIM/album/Summer 2024/beach.PNG", makePng(40, 30, 4), minute++);
    write(storage, "/sdcard/DCIM/album/Summer 2024/Day 1/sunset.jpg", makeJpeg(40, 30, 5), minute++);
    write(storage, "/sdcard/DCIM/album/cover.png", makePng(24, 24, 6), minute++);
    write(storage, "/sdcard/Movies/Camera/VID_1.mp4", makeMp4(3), minute++);
    write(storage, "/sdcard/Movies/Camera/clip.MOV", makeMp4(4), minute++);
    write(storage, "/sdcard/Pictures/Screenshots/Screenshot_20240501.png", makePng(72, 40, 7), minute++);
    write(storage, "/sdcard/Pictures/IMG_20240501_100000.jpg", makeJpeg(64, 48, 1),
          minute++);  // same name as in Camera
    write(storage, "/sdcard/Pictures/video/rec.mp4", makeMp4(5), minute++);
    write(storage, "/sdcard/Download/manual.pdf", "%PDF-1.4\n%%EOF\n", minute++);
    write(storage, "/sdcard/Download/photo.png", makePng(16, 16, 8), minute++);
    storage.makeDirectories("/sdcard/Music");
    storage.makeDirectories("/sdcard/Android/data");
    if (bulkCount > 0) {
        // Distinct tiny photos; encoding one JPEG per file would cost seconds for thousands.
        const std::string base = makeJpeg(8, 8, 0);
        for (int i = 1; i <= bulkCount; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "/IMG_%05d.jpg", i);
            std::string bytes = base;
            // Vary a comment byte pair after the SOI marker so every file is unique.
            bytes.insert(2, std::string("\xff\xfe\x00\x04", 4) + static_cast<char>(i & 0xff) +
                                static_cast<char>((i >> 8) & 0xff));
            write(storage, bulkFolder + name, bytes, i % 1440);
        }
    }
}

}  // namespace orvan::sim
