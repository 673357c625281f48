// Metadata segments are left out before the decoder sees a JPEG: damaged Exif data once crashed
// the library's reader. What is left must decode to the very same photograph. On the way, how
// the file ends is found, and whether its scans finish the picture.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/counting.h"
#include "engine/digest.h"
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
    // A thumbnail, which the library would decode as a JPEG of its own.
    const Bytes jfxx = segment(0xE0, std::string("JFXX\0\x10\xFF\xD8\xFF\xC2", 10));
    const Bytes exif = segment(0xE1, "Exif-and-more");
    const Bytes icc = segment(0xE2, "ICC_PROFILE");
    const Bytes adobe = segment(0xEE, "Adobe-transform");
    const Bytes comment = segment(0xFE, "a comment");
    // Precision 8, height 0x0102, width 0x0304, one component.
    const Bytes frame = segment(0xC0, std::string("\x08\x01\x02\x03\x04\x01\x01\x11\x00", 9));
    const Bytes scan = {0xFF, 0xDA, 0x00, 0x04, 0x01, 0x00, 0x12, 0x34, 0xFF, 0x00, 0xFF, 0xD0};
    const Bytes end = {0xFF, 0xD9};
    // Metadata after a scan's data is read by the decoder as the metadata before it.
    const Bytes jpeg =
        joined({start, jfif, jfxx, exif, icc, comment, adobe, frame, scan, exif, comment, end});

    const JpegWithoutMetadata kept = withoutMetadataSegments(jpeg.data(), jpeg.size());
    // The scan's data is kept whole, its stuffed byte and restart marker too.
    EXPECT_EQ(kept.data, joined({start, jfif, adobe, frame, scan, end}));
    // Stray bytes after metadata left out stay apart from the scan's data: an empty comment
    // stands where the metadata was, as it does where the stray bytes begin like a stuffed byte.
    for (const Bytes& stray : {Bytes{0x12, 0x34}, Bytes{0xFF, 0x00, 0x56}}) {
        const Bytes odd = joined({start, frame, scan, exif, stray, end});
        const JpegWithoutMetadata walked = withoutMetadataSegments(odd.data(), odd.size());
        EXPECT_EQ(walked.data, joined({start, frame, scan, {0xFF, 0xFE, 0x00, 0x02}, stray, end}));
        const JpegWithoutMetadata again =
            withoutMetadataSegments(walked.data.data(), walked.data.size());
        EXPECT_EQ(again.data, walked.data);
        EXPECT_EQ(again.scanEnds, walked.scanEnds);
    }
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

    // A marker the decoder does not know has no length for it: it goes on to the next marker,
    // so the frame header behind one is found here too, whatever "length" follows it.
    const Bytes frame = segment(0xC2, std::string("\x08\xF6\xB7\xFF\xC0\x01\x01\x11\x00", 9));
    for (int unknown : {0x02, 0x04, 0xBF, 0xDE, 0xDF, 0xF0, 0xFD}) {
        SCOPED_TRACE(unknown);
        const Bytes hidden =
            joined({start, {0xFF, static_cast<std::uint8_t>(unknown), 0x04, 0x00, 0x12}, frame});
        const JpegWithoutMetadata walked = withoutMetadataSegments(hidden.data(), hidden.size());
        EXPECT_EQ(walked.data, hidden);
        EXPECT_TRUE(walked.hasFrame);
        EXPECT_EQ(walked.height, 0xF6B7);
        EXPECT_EQ(walked.width, 0xFFC0);
    }
}

// A scan header: its components (each with table selectors 0x00), the band of coefficients
// from `first` to `last`, and the bits it codes from `high` (0 for a first scan) down to `low`.
Bytes scanHeader(std::initializer_list<std::uint8_t> components, int first, int last, int high,
                 int low) {
    std::string payload(1, static_cast<char>(components.size()));
    for (std::uint8_t id : components) payload += {static_cast<char>(id), '\0'};
    payload +=
        {static_cast<char>(first), static_cast<char>(last), static_cast<char>(high << 4 | low)};
    return segment(0xDA, payload);
}

// A frame header of 16 x 16 pixels with components 1 to `components`.
Bytes frameHeader(std::uint8_t marker, int components) {
    std::string payload("\x08\x00\x10\x00\x10", 5);
    payload += static_cast<char>(components);
    for (int id = 1; id <= components; ++id) payload += {static_cast<char>(id), '\x11', '\0'};
    return segment(marker, payload);
}

struct EndingCase {
    const char* name;
    Bytes input;
    JpegEnding ending;
    bool scansComplete;
    Bytes data;  // what the decoder gets
};

TEST(JpegSegments, HowTheFileEndsAndWhetherItsScansFinishThePicture) {
    const Bytes start = {0xFF, 0xD8};
    const Bytes end = {0xFF, 0xD9};
    const Bytes baseline = frameHeader(0xC0, 1);
    const Bytes progressive = frameHeader(0xC2, 1);
    const Bytes all = scanHeader({1}, 0, 63, 0, 0);
    // Picture data with a stuffed 0xFF and a restart marker, which do not end it.
    const Bytes data = {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD3, 0x56};
    const Bytes tables = segment(0xC4, "tables");
    const Bytes dcFirst = scanHeader({1}, 0, 0, 0, 1);
    const Bytes acFirst = scanHeader({1}, 1, 63, 0, 1);
    const Bytes dcRefine = scanHeader({1}, 0, 0, 1, 0);
    const Bytes acRefine = scanHeader({1}, 1, 63, 1, 0);
    const Bytes finished = joined(
        {start, progressive, dcFirst, data, acFirst, data, dcRefine, data, tables, acRefine, data});

    const std::vector<EndingCase> cases = {
        {"whole", joined({start, baseline, all, data, end}), JpegEnding::Marked, true,
         joined({start, baseline, all, data, end})},
        {"bytes after the end stay", joined({start, baseline, all, data, end, {1, 2}}),
         JpegEnding::Marked, true, joined({start, baseline, all, data, end, {1, 2}})},
        {"without the end marker", joined({start, baseline, all, data}), JpegEnding::Unmarked, true,
         joined({start, baseline, all, data, end})},
        {"with half the end marker", joined({start, baseline, all, data, {0xFF}}),
         JpegEnding::Unmarked, true, joined({start, baseline, all, data, end})},
        {"fill bytes before tables after a scan",
         joined({start, progressive, dcFirst, data, {0xFF}, tables}), JpegEnding::Unmarked, false,
         joined({start, progressive, dcFirst, data, {0xFF}, tables, end})},
        {"cut in the tables after a scan",
         joined({start, progressive, dcFirst, data, {0xFF, 0xC4, 0x00, 0x10, 't'}}),
         JpegEnding::Unmarked, false, joined({start, progressive, dcFirst, data, end})},
        {"cut in the first scan header", joined({start, baseline, {0xFF, 0xDA, 0x00, 0x08, 1}}),
         JpegEnding::InHeader, false, joined({start, baseline, {0xFF, 0xDA, 0x00, 0x08, 1}})},
        {"cut before any scan", joined({start, baseline}), JpegEnding::InHeader, false,
         joined({start, baseline})},
        {"ended before any scan", joined({start, baseline, end}), JpegEnding::Unknown, false,
         joined({start, baseline, end})},
        {"progressive, every bit of every coefficient", finished, JpegEnding::Unmarked, true,
         joined({finished, end})},
        {"progressive, without the last refinement",
         joined({start, progressive, dcFirst, data, acFirst, data, dcRefine, data}),
         JpegEnding::Unmarked, false,
         joined({start, progressive, dcFirst, data, acFirst, data, dcRefine, data, end})},
        {"progressive, a band never coded",
         joined({start, progressive, scanHeader({1}, 0, 0, 0, 0), data,
                 scanHeader({1}, 1, 62, 0, 0), data}),
         JpegEnding::Unmarked,
         false,
         {}},
        {"progressive, a refinement without its first scan",
         joined({start, progressive, scanHeader({1}, 0, 0, 0, 0), data, acRefine, data}),
         JpegEnding::Unmarked,
         false,
         {}},
        {"sequential, one of two components scanned",
         joined({start, frameHeader(0xC1, 2), scanHeader({1}, 0, 63, 0, 0), data}),
         JpegEnding::Unmarked,
         false,
         {}},
        {"sequential, both components scanned one after the other",
         joined({start, frameHeader(0xC1, 2), scanHeader({1}, 0, 63, 0, 0), data,
                 scanHeader({2}, 0, 63, 0, 0), data}),
         JpegEnding::Unmarked,
         true,
         {}},
    };
    for (const EndingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const JpegWithoutMetadata kept = withoutMetadataSegments(c.input.data(), c.input.size());
        EXPECT_EQ(kept.ending, c.ending);
        EXPECT_EQ(kept.scansComplete, c.scansComplete);
        if (!c.data.empty()) {
            EXPECT_EQ(kept.data, c.data);
        }
    }
}

TEST(JpegSegments, ScansAreCountedWithWhereTheirPictureDataEnds) {
    const Bytes start = {0xFF, 0xD8};
    const Bytes frame = frameHeader(0xC9, 2);  // arithmetic-coded, sequential
    const Bytes first =
        joined({scanHeader({1}, 0, 63, 0, 0), {0x12, 0xFF, 0x00, 0xFF, 0xD3, 0x56}});
    const Bytes second = joined({scanHeader({2}, 0, 63, 0, 0), {0x78}});
    const Bytes jpeg = joined({start, frame, first, segment(0xCC, "ac"), second});
    const JpegWithoutMetadata walked = withoutMetadataSegments(jpeg.data(), jpeg.size());
    EXPECT_TRUE(walked.arithmetic);
    EXPECT_EQ(walked.scans, 2);
    // After the first scan's data comes a segment; after the second, the added end marker.
    EXPECT_EQ(walked.scanEnds, (std::vector<std::size_t>{start.size() + frame.size() + first.size(),
                                                         walked.data.size() - 2}));
    const Bytes huffman = joined({start, frameHeader(0xC0, 1), first});
    EXPECT_FALSE(withoutMetadataSegments(huffman.data(), huffman.size()).arithmetic);
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

        CountResult ours =
            countJpegInMemory(jpeg.data(), jpeg.size(), name, {.threshold = 128, .bdLine = 40},
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

TEST(JpegSegments, APhotographIsKnownByItsImageWhateverItsFileAdds) {
    const Bytes photo = readBytes(fs::path(LATHMARK_SOURCE_DIR) / "samples" / "stack_01.jpg");
    const Bytes other = readBytes(fs::path(LATHMARK_SOURCE_DIR) / "samples" / "stack_02.jpg");
    ASSERT_GT(photo.size(), 100u);
    const Bytes start(photo.begin(), photo.begin() + 2);
    const Bytes rest(photo.begin() + 2, photo.end());
    const Bytes withoutEnd(photo.begin(), photo.end() - 2);
    Bytes changed = photo;
    changed[changed.size() - 100] ^= 0x01;  // one bit of the picture data
    const auto digest = [](const Bytes& bytes) {
        return digestOf(withoutMetadataSegments(bytes.data(), bytes.size()));
    };
    const auto same = digest(photo);
    ASSERT_TRUE(same);
    const struct {
        const char* name;
        Bytes bytes;
        bool isSame;
    } cases[] = {
        {"Exif and a comment added", joined({start, segment(0xE1, "Exif-x"), rest, {}}), true},
        {"end marker missing", withoutEnd, true},
        {"a trailer after the end", joined({photo, Bytes{'t', 'a', 'i', 'l'}}), true},
        {"one bit of the picture", changed, false},
        {"another photograph", other, false},
    };
    for (const auto& c : cases) EXPECT_EQ(digest(c.bytes) == same, c.isSame) << c.name;
    EXPECT_FALSE(digest(Bytes{0xFF, 0xD8, 0xFF, 0xD9}));  // no scan, no photograph
    EXPECT_EQ(PhotographDigest::fromHex(same->hex()), same);
    EXPECT_FALSE(PhotographDigest::fromHex("not hex"));
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
        const CountResult result = countBoards(photo, {.threshold = 128, .bdLine = 40});
        EXPECT_TRUE(result.ok()) << entry.path() << ": " << result.error->message();
        fs::remove(photo);
    }
}

TEST(JpegSegments, ExifAfterTheFirstScanNoLongerReachesTheLibrary) {
    // Found by fuzzing: an Exif segment after a scan's data, whose first directory claims more
    // entries than it holds, crashed the library's Exif reader as the picture was decoded.
    const Bytes input = readBytes(kFuzz / "regressions" / "segments" /
                                  "exif-after-the-first-scan-reached-the-library");
    const JpegWithoutMetadata kept = withoutMetadataSegments(input.data(), input.size());
    const std::string data(kept.data.begin(), kept.data.end());
    EXPECT_EQ(data.find("Exif"), std::string::npos);
    const CountResult result =
        countJpegInMemory(input.data(), input.size(), "exif.jpg", {.threshold = 128, .bdLine = 40});
    EXPECT_FALSE(result.ok());
}

TEST(JpegSegments, AFrameBehindAnUnknownMarkerIsRefusedBeforeTheLibraryReadsIt) {
    // Found by fuzzing: the library set aside about 1 GB while reading only the header of this
    // 1 KB file, whose 65472 x 63159 progressive frame follows a marker 0x04.
    const Bytes input = readBytes(kFuzz / "regressions" / "count" /
                                  "unknown-marker-hides-a-progressive-frame-of-4-gigapixels");
    ASSERT_GT(input.size(), 3u);
    const CountResult result = countJpegInMemory(input.data() + 3, input.size() - 3, "hidden.jpg",
                                                 {.threshold = 128, .bdLine = 40});
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error->reason,
              "is 65472 x 63159 pixels, more than the 100 megapixels a photograph may have");
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
