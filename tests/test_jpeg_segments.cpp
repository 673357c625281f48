// Metadata segments are left out before the decoder sees a JPEG: damaged Exif data once crashed
// the library's reader. What is left must decode to the very same photograph.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/counting.h"
#include "engine/jpeg_segments.h"
#include "engine/report.h"
#include "tests/support/bitmaps.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kFuzz = fs::path(LATHMARK_SOURCE_DIR) / "fuzz";

Bytes readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A segment: marker, then its two length bytes and `payload`.
Bytes segment(std::uint8_t marker, const std::string& payload) {
    const std::size_t length = payload.size() + 2;
    Bytes bytes(4 + payload.size());
    bytes[0] = 0xFF;
    bytes[1] = marker;
    bytes[2] = static_cast<std::uint8_t>(length >> 8);
    bytes[3] = static_cast<std::uint8_t>(length);
    std::copy(payload.begin(), payload.end(), bytes.begin() + 4);
    return bytes;
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(JpegSegments, MetadataGoesAndWhatTheDecoderNeedsStays) {
    const Bytes start = {0xFF, 0xD8};
    const Bytes jfif = segment(0xE0, std::string("JFIF\0\1\1\1\0\x48\0\x48\0\0", 14));
    const Bytes exif = segment(0xE1, "Exif-and-more");
    const Bytes icc = segment(0xE2, "ICC_PROFILE");
    const Bytes adobe = segment(0xEE, "Adobe-transform");
    const Bytes comment = segment(0xFE, "a comment");
    // Precision 8, height 0x0102, width 0x0304, one component.
    const Bytes frame = segment(0xC0, std::string("\x08\x01\x02\x03\x04\x01\x01\x11\x00", 9));
    const Bytes scan = {0xFF, 0xDA, 0x00, 0x04, 0x01, 0x00, 0x12, 0x34, 0xFF, 0xE1, 0x00, 0x02};
    const Bytes end = {0xFF, 0xD9};
    const Bytes jpeg = joined({start, jfif, exif, icc, comment, adobe, frame, scan, end});

    const JpegWithoutMetadata kept = withoutMetadataSegments(jpeg.data(), jpeg.size());
    // Everything from the scan on is the picture, even bytes that look like a marker.
    EXPECT_EQ(kept.data, joined({start, jfif, adobe, frame, scan, end}));
    EXPECT_TRUE(kept.hasFrame);
    EXPECT_EQ(kept.height, 0x0102);
    EXPECT_EQ(kept.width, 0x0304);
}

TEST(JpegSegments, OddDataIsPassedOnOrCutWhereItBreaks) {
    const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A};
    EXPECT_EQ(withoutMetadataSegments(png.data(), png.size()).data, png);
    EXPECT_FALSE(withoutMetadataSegments(png.data(), png.size()).hasFrame);

    // A segment claiming more bytes than there are ends the copy before it.
    const Bytes start = {0xFF, 0xD8};
    const Bytes cut = joined({start, segment(0xDB, "tables"), {0xFF, 0xE1, 0x40, 0x00, 'E'}});
    EXPECT_EQ(withoutMetadataSegments(cut.data(), cut.size()).data,
              joined({start, segment(0xDB, "tables")}));

    // Stray bytes and fill bytes between segments stay, as the decoder only warns about them.
    const Bytes stray = joined({start, {0x12, 0x34, 0xFF, 0xFF}, segment(0xDB, "q")});
    EXPECT_EQ(withoutMetadataSegments(stray.data(), stray.size()).data, stray);
}

TEST(JpegSegments, APhotographDecodesTheSameWithoutItsMetadata) {
    // Seeds of the fuzzer: a stack photograph with Exif, GPS, IPTC, XMP and a comment, and a
    // CMYK one whose Adobe segment must stay.
    for (const char* name : {"metadata_96x72", "cmyk_64x48", "progressive_96x72"}) {
        const Bytes input = readBytes(kFuzz / "corpus" / "count" / name);
        ASSERT_GT(input.size(), 3u) << name;
        Bytes jpeg(input.begin() + 3, input.end());
        FIMEMORY* memory = FreeImage_OpenMemory(jpeg.data(), static_cast<DWORD>(jpeg.size()));
        const Bitmap library(FreeImage_LoadFromMemory(FIF_JPEG, memory, 0));
        FreeImage_CloseMemory(memory);
        ASSERT_TRUE(library) << name;

        CountResult ours = countJpegInMemory(jpeg.data(), jpeg.size(), name, 40, 128,
                                             CountOptions{.keepPhotograph = true});
        ASSERT_TRUE(ours.photograph) << name;
        FIBITMAP* a = ours.photograph.get();
        FIBITMAP* b = library.get();
        ASSERT_EQ(FreeImage_GetBPP(a), FreeImage_GetBPP(b)) << name;
        ASSERT_EQ(FreeImage_GetWidth(a), FreeImage_GetWidth(b)) << name;
        ASSERT_EQ(FreeImage_GetHeight(a), FreeImage_GetHeight(b)) << name;
        EXPECT_EQ(FreeImage_GetDotsPerMeterX(a), FreeImage_GetDotsPerMeterX(b)) << name;
        EXPECT_EQ(FreeImage_GetDotsPerMeterY(a), FreeImage_GetDotsPerMeterY(b)) << name;
        const unsigned lineBytes = FreeImage_GetLine(a);
        for (unsigned y = 0; y < FreeImage_GetHeight(a); ++y)
            ASSERT_EQ(0, std::memcmp(FreeImage_GetScanLine(a, static_cast<int>(y)),
                                     FreeImage_GetScanLine(b, static_cast<int>(y)), lineBytes))
                << name << ", row " << y;
    }
}

TEST(JpegSegments, DamagedExifNoLongerReachesTheLibrary) {
    // Each once crashed the process inside the library's Exif reader.
    for (const auto& entry : fs::directory_iterator(kFuzz / "regressions" / "count")) {
        if (entry.path().filename().string().rfind("exif", 0) != 0) continue;
        const Bytes input = readBytes(entry.path());
        const fs::path photo = fs::temp_directory_path() / "lathmark-damaged-exif.jpg";
        std::ofstream(photo, std::ios::binary)
            .write(reinterpret_cast<const char*>(input.data() + 3),
                   static_cast<std::streamsize>(input.size() - 3));
        const CountResult result = countBoards(photo, 40, 128);
        EXPECT_TRUE(result.ok()) << entry.path() << ": " << result.error->message();
        fs::remove(photo);
    }
}

TEST(ResultFile, ReplacesAFileButNeverAPipeOrAFolder) {
    const fs::path folder = fs::temp_directory_path() / "lathmark-result-file";
    fs::remove_all(folder);
    fs::create_directories(folder / "folder.bmp");
    ASSERT_EQ(::mkfifo((folder / "pipe.bmp").c_str(), 0600), 0);
    std::ofstream(folder / "old.bmp") << "an older result";
    const Bitmap image = test::binaryFromRows({"#..#", "....", "####"});

    ASSERT_EQ(writeBmp(image.get(), folder / "old.bmp"), std::nullopt);
    const Bitmap back(FreeImage_Load(FIF_BMP, (folder / "old.bmp").c_str(), 0));
    ASSERT_TRUE(back);
    EXPECT_EQ(test::lightRows(back.get()), std::vector<int>{1});

    for (const char* name : {"pipe.bmp", "folder.bmp"}) {
        const auto failure = writeBmp(image.get(), folder / name);
        ASSERT_TRUE(failure) << name;
        EXPECT_NE(failure->find((folder / name).string()), std::string::npos) << *failure;
    }
    struct stat info {};
    ASSERT_EQ(::lstat((folder / "pipe.bmp").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    // Nothing is left behind beside the results.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++entries;
    EXPECT_EQ(entries, 3);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace lathmark
