// The corpus's cases, and how each case's file is made: drawn by the sample generator, then cut,
// padded or rewritten byte by byte into what the case needs.

#include "tests/support/corpus.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <system_error>

#include "tools/samplegen.h"

namespace lathmark::test {
namespace {

namespace fs = std::filesystem;
namespace sg = lathmark::samplegen;

// The frame size the oversized cases claim: 4.2 gigapixels, far over the engine's budget, and
// still a valid 16-bit JPEG dimension.
constexpr int kClaimedSide = 65000;

// Board counts differ from case to case, so that a count shown for the wrong file is caught.
constexpr int kGoodBoards = 6;
constexpr int kGreyBoards = 7;
constexpr int kCmykBoards = 8;
constexpr int kProgressiveBoards = 9;
constexpr int kDamagedBoards = 12;
constexpr int kProgressiveDamagedBoards = 13;
constexpr int kLargeBoards = 40;

sg::BitmapPtr renderPlan(int boards, std::uint32_t seed, int width = 768, int height = 576) {
    sg::StackPlan plan;
    plan.width = width;
    plan.height = height;
    plan.boards = boards;
    return sg::renderStack(sg::planStack(plan, seed), seed);
}

sg::StackPlan largePlan() {
    sg::StackPlan plan;
    plan.width = 4000;
    plan.height = 3000;
    plan.floorRows = 300;
    plan.wallRows = 300;
    plan.boards = kLargeBoards;
    return plan;
}
constexpr std::uint32_t kLargeSeed = 11;

// The flags of saveJpeg (quality 90, no chroma subsampling, optimised tables), progressive.
constexpr int kProgressiveFlags = 90 | JPEG_SUBSAMPLING_444 | JPEG_OPTIMIZE | JPEG_PROGRESSIVE;

void savePng(FIBITMAP* dib, const fs::path& file) {
    if (!FreeImage_Save(FIF_PNG, dib, file.c_str(), PNG_DEFAULT))
        throw std::runtime_error(file.string() + ": cannot write the PNG file");
}

void saveProgressive(FIBITMAP* dib, const fs::path& file) {
    if (!FreeImage_Save(FIF_JPEG, dib, file.c_str(), kProgressiveFlags))
        throw std::runtime_error(file.string() + ": cannot write the progressive JPEG file");
}

// A corpus file must be what its case says it is; a library that quietly wrote something else
// would make the case test nothing.
void requireFrame(const fs::path& file, unsigned char marker, int components) {
    const auto frame = findJpegFrame(readBytes(file));
    if (!frame || frame->marker != marker || frame->components != components)
        throw std::runtime_error(file.string() +
                                 ": the written JPEG does not have the frame "
                                 "its corpus case needs");
}

// Keeps the first `numerator / denominator` of the file's bytes.
void cutJpeg(const fs::path& file, int numerator, int denominator) {
    const std::string bytes = readBytes(file);
    writeBytes(file, bytes.substr(0, bytes.size() * static_cast<std::size_t>(numerator) /
                                         static_cast<std::size_t>(denominator)));
}

// Leaves out the file's last `count` bytes. Without 2 of them, a whole JPEG lacks exactly its
// end-of-image marker, and with 3 also the last byte of its picture data.
void dropLastBytes(const fs::path& file, std::size_t count) {
    const std::string bytes = readBytes(file);
    if (bytes.size() < count + 2 || bytes.substr(bytes.size() - 2) != "\xFF\xD9")
        throw std::runtime_error(file.string() + ": does not end with an end-of-image marker");
    writeBytes(file, bytes.substr(0, bytes.size() - count));
}

// Where the last scan's header begins in a JPEG held in bytes.
std::size_t lastScanHeader(const std::string& bytes, const fs::path& file) {
    const std::size_t header = bytes.rfind("\xFF\xDA");
    if (header == std::string::npos || header + 4 > bytes.size())
        throw std::runtime_error(file.string() + ": no scan");
    return header;
}

// Cuts the file where its last scan's picture data is half read.
void cutInLastScan(const fs::path& file) {
    const std::string bytes = readBytes(file);
    const std::size_t header = lastScanHeader(bytes, file);
    const auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const std::size_t data = header + 2 + ((std::size_t{at(header + 2)} << 8) | at(header + 3));
    writeBytes(file, bytes.substr(0, data + (bytes.size() - 2 - data) / 2));
}

// Cuts a progressive file just before its last scan's header: every scan before it is whole.
void cutBeforeLastScan(const fs::path& file) {
    const std::string bytes = readBytes(file);
    writeBytes(file, bytes.substr(0, lastScanHeader(bytes, file)));
}

// Puts stray bytes before the first quantisation table, which the decoder warns about.
void putStrayBytes(const fs::path& file) {
    std::string bytes = readBytes(file);
    const std::size_t tables = bytes.find("\xFF\xDB");
    if (tables == std::string::npos) throw std::runtime_error(file.string() + ": no tables");
    bytes.insert(tables, "\x12\x34\x56");
    writeBytes(file, bytes);
}

// Makes the frame header claim `extra` rows more than the scans hold: the decoder fills them in
// and warns that the scan stopped short, unless an earlier warning takes its place.
void claimMoreRows(const fs::path& file, int extra) {
    std::string bytes = readBytes(file);
    const auto frame = findJpegFrame(bytes);
    if (!frame) throw std::runtime_error(file.string() + ": no frame header to enlarge");
    const auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const int height = ((at(frame->offset + 5) << 8) | at(frame->offset + 6)) + extra;
    bytes[frame->offset + 5] = static_cast<char>((height >> 8) & 0xFF);
    bytes[frame->offset + 6] = static_cast<char>(height & 0xFF);
    writeBytes(file, bytes);
}

void claimHugeFrame(const fs::path& file) {
    std::string bytes = readBytes(file);
    const auto frame = findJpegFrame(bytes);
    if (!frame) throw std::runtime_error(file.string() + ": no frame header to enlarge");
    const auto put16 = [&bytes](std::size_t at, int value) {
        bytes[at] = static_cast<char>((value >> 8) & 0xFF);
        bytes[at + 1] = static_cast<char>(value & 0xFF);
    };
    put16(frame->offset + 5, kClaimedSide);  // height
    put16(frame->offset + 7, kClaimedSide);  // width
    writeBytes(file, bytes);
}

// The photographs that the damaged cases are made from.
void writeBaseline(const fs::path& file) {
    sg::saveJpeg(renderPlan(kDamagedBoards, 21).get(), file.string());
    requireFrame(file, 0xC0, 3);
}

void writeProgressiveToDamage(const fs::path& file) {
    saveProgressive(renderPlan(kProgressiveDamagedBoards, 41).get(), file);
    requireFrame(file, 0xC2, 3);
}

void writeDamaged(const fs::path& file, int numerator, int denominator) {
    writeBaseline(file);
    cutJpeg(file, numerator, denominator);
}

// Cut just after the frame header: the decoder learns the size but finds no scan.
void writeCutInHeader(const fs::path& file) {
    sg::saveJpeg(renderPlan(kDamagedBoards, 21).get(), file.string());
    const std::string bytes = readBytes(file);
    const auto frame = findJpegFrame(bytes);
    if (!frame) throw std::runtime_error(file.string() + ": no frame header to cut after");
    writeBytes(file, bytes.substr(0, frame->offset + 12));
}

void writeCmyk(const fs::path& file) {
    const sg::BitmapPtr rgb = renderPlan(kCmykBoards, 23);
    const unsigned width = FreeImage_GetWidth(rgb.get());
    const unsigned height = FreeImage_GetHeight(rgb.get());
    const sg::BitmapPtr cmyk(
        FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 32));
    if (!cmyk) throw std::runtime_error(file.string() + ": cannot allocate the CMYK bitmap");
    // The library writes a 32-bit bitmap as a CMYK JPEG when it is marked as CMYK.
    FreeImage_GetICCProfile(cmyk.get())->flags |= FIICC_COLOR_IS_CMYK;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* from = FreeImage_GetScanLine(rgb.get(), static_cast<int>(y));
        BYTE* to = FreeImage_GetScanLine(cmyk.get(), static_cast<int>(y));
        for (unsigned x = 0; x < width; ++x, from += 3, to += 4) {
            // Inks without black: cyan is what red lacks, and so on.
            to[0] = static_cast<BYTE>(255 - from[FI_RGBA_RED]);
            to[1] = static_cast<BYTE>(255 - from[FI_RGBA_GREEN]);
            to[2] = static_cast<BYTE>(255 - from[FI_RGBA_BLUE]);
            to[3] = 0;
        }
    }
    if (!FreeImage_Save(FIF_JPEG, cmyk.get(), file.c_str(), 90 | JPEG_OPTIMIZE))
        throw std::runtime_error(file.string() + ": cannot write the CMYK JPEG file");
    requireFrame(file, 0xC0, 4);
}

void writeOnePixel(const fs::path& file) {
    const sg::BitmapPtr pixel(FreeImage_Allocate(1, 1, 24));
    if (!pixel) throw std::runtime_error(file.string() + ": cannot allocate the bitmap");
    RGBQUAD grey{128, 128, 128, 0};
    FreeImage_SetPixelColor(pixel.get(), 0, 0, &grey);
    sg::saveJpeg(pixel.get(), file.string());
}

// Dark floor and wall with one light board row between them: no band is left.
void writeOneLightRow(const fs::path& file) {
    sg::StackPhoto photo;
    photo.width = 320;
    photo.height = 64;
    photo.floorRows = 40;
    photo.wallRows = 23;
    photo.boards = {sg::Board{1, 230.0}};
    sg::saveJpeg(sg::renderStack(photo, 27).get(), file.string());
}

// The fingerprint of the generator's current drawing, so that a cached large photograph made by
// an older generator is not used.
std::string generatorFingerprint() {
    const sg::BitmapPtr small = renderPlan(3, kLargeSeed, 96, 160);
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    const unsigned height = FreeImage_GetHeight(small.get());
    const unsigned rowBytes = FreeImage_GetLine(small.get());
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* row = FreeImage_GetScanLine(small.get(), static_cast<int>(y));
        for (unsigned i = 0; i < rowBytes; ++i) hash = (hash ^ row[i]) * 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

void renderLarge(const fs::path& file) {
    sg::saveJpeg(sg::renderStack(sg::planStack(largePlan(), kLargeSeed), kLargeSeed).get(),
                 file.string());
}

void writeLarge(const fs::path& file) {
    const fs::path cacheFolder = LATHMARK_CORPUS_CACHE;
    const fs::path cached = cacheFolder / ("large-4000x3000-" + std::to_string(kLargeBoards) + "-" +
                                           generatorFingerprint() + ".jpg");
    std::error_code error;
    if (!fs::is_regular_file(cached, error)) {
        // Several test programs may make it at once: each writes its own file and renames it
        // into place, which replaces the file whole.
        const fs::path partial = cached.string() + "." + std::to_string(::getpid()) + ".part";
        try {
            fs::create_directories(cacheFolder);
            renderLarge(partial);
            fs::rename(partial, cached);
        } catch (const std::exception&) {
            fs::remove(partial, error);
            return renderLarge(file);  // no cache to be had: make it for this test alone
        }
    }
    fs::copy_file(cached, file, fs::copy_options::overwrite_existing);
}

struct Entry {
    CorpusCase corpusCase;
    std::function<void(const fs::path&)> write;
};

// What the reasons and warnings of the damaged cases say.
const char* const kCutOff = "the file ends before the picture does: it is cut off";
const char* const kStrayBytes = "extraneous bytes before marker";

const std::vector<Entry>& entries() {
    using E = Expect;
    static const std::vector<Entry> all = {
        {{"empty.jpg", "empty file", E::Refused, 0, "empty"},
         [](const fs::path& f) { writeBytes(f, ""); }},
        {{"cut_third.jpg", "JPEG cut off after a third of its bytes", E::Refused, 0, kCutOff},
         [](const fs::path& f) { writeDamaged(f, 1, 3); }},
        {{"cut_half.jpg", "JPEG cut off after half of its bytes", E::Refused, 0, kCutOff},
         [](const fs::path& f) { writeDamaged(f, 1, 2); }},
        {{"cut_last_data_byte.jpg", "JPEG without the last byte of its picture data", E::Refused, 0,
          kCutOff},
         [](const fs::path& f) {
             writeBaseline(f);
             dropLastBytes(f, 3);
         }},
        {{"cut_header.jpg", "JPEG cut off right after its frame header", E::Refused, 0, kCutOff},
         writeCutInHeader},
        {{"no_end_marker.jpg", "JPEG without its end-of-image marker", E::Counted, kDamagedBoards,
          ""},
         [](const fs::path& f) {
             writeBaseline(f);
             dropLastBytes(f, 2);
         }},
        {{"progressive_cut_half.jpg", "progressive JPEG cut off after half of its bytes",
          E::Refused, 0, kCutOff},
         [](const fs::path& f) {
             writeProgressiveToDamage(f);
             cutJpeg(f, 1, 2);
         }},
        {{"progressive_cut_before_last_scan.jpg",
          "progressive JPEG cut off between its last two scans", E::Refused, 0,
          "cut off before its last scan"},
         [](const fs::path& f) {
             writeProgressiveToDamage(f);
             cutBeforeLastScan(f);
         }},
        {{"progressive_cut_in_last_scan.jpg", "progressive JPEG cut off in its last scan",
          E::Refused, 0, kCutOff},
         [](const fs::path& f) {
             writeProgressiveToDamage(f);
             cutInLastScan(f);
         }},
        {{"progressive_cut_last_data_byte.jpg",
          "progressive JPEG without the last byte of its picture data", E::Refused, 0, kCutOff},
         [](const fs::path& f) {
             writeProgressiveToDamage(f);
             dropLastBytes(f, 3);
         }},
        {{"progressive_no_end_marker.jpg", "progressive JPEG without its end-of-image marker",
          E::Counted, kProgressiveDamagedBoards, ""},
         [](const fs::path& f) {
             writeProgressiveToDamage(f);
             dropLastBytes(f, 2);
         }},
        {{"stray_bytes.jpg", "JPEG with stray bytes before a marker", E::CountedWithWarning,
          kDamagedBoards, kStrayBytes},
         [](const fs::path& f) {
             writeBaseline(f);
             putStrayBytes(f);
         }},
        {{"stray_bytes_no_end_marker.jpg",
          "JPEG with stray bytes before a marker and without its end-of-image marker",
          E::CountedWithWarning, kDamagedBoards, kStrayBytes},
         [](const fs::path& f) {
             writeBaseline(f);
             putStrayBytes(f);
             dropLastBytes(f, 2);
         }},
        // A harmless first warning (the stray bytes) must not hide a later sign of a cut.
        {{"stray_bytes_cut_half.jpg",
          "JPEG with stray bytes before a marker, cut off after half of its bytes", E::Refused, 0,
          kCutOff},
         [](const fs::path& f) {
             writeBaseline(f);
             putStrayBytes(f);
             cutJpeg(f, 1, 2);
         }},
        // Nor may it hide the rows the scan lacks.
        {{"stray_bytes_rows_missing.jpg",
          "JPEG with stray bytes before a marker whose frame claims more rows than it holds",
          E::Refused, 0, "part of the picture data is missing"},
         [](const fs::path& f) {
             writeBaseline(f);
             claimMoreRows(f, 64);
             putStrayBytes(f);
         }},
        {{"png.jpg", "PNG file named .jpg", E::Refused, 0, "Not a JPEG file"},
         [](const fs::path& f) { savePng(renderPlan(5, 29).get(), f); }},
        {{"text.jpg", "text file named .jpg", E::Refused, 0, "Not a JPEG file"},
         [](const fs::path& f) { writeBytes(f, "Delivery note: 40 boards, 18 mm MDF.\n"); }},
        {{"huge_frame.jpg", "baseline JPEG whose frame header claims 65000 x 65000", E::Refused, 0,
          "megapixels"},
         [](const fs::path& f) {
             sg::saveJpeg(renderPlan(5, 31).get(), f.string());
             requireFrame(f, 0xC0, 3);
             claimHugeFrame(f);
         }},
        {{"huge_progressive.jpg", "progressive JPEG whose frame header claims 65000 x 65000",
          E::Refused, 0, "megapixels"},
         [](const fs::path& f) {
             saveProgressive(renderPlan(5, 31).get(), f);
             requireFrame(f, 0xC2, 3);
             claimHugeFrame(f);
         }},
        {{"x.jpg", "directory named like a photograph", E::Refused, 0, "is a directory", false},
         [](const fs::path& f) { fs::create_directory(f); }},
        {{"one_pixel.jpg", "1 x 1 photograph", E::Refused, 0, "1 pixel wide"}, writeOnePixel},
        {{"four_wide.jpg", "stack photograph 4 pixels wide", E::Refused, 0, "4 pixels wide"},
         [](const fs::path& f) { sg::saveJpeg(renderPlan(10, 33, 4).get(), f.string()); }},
        {{"one_light_row.jpg", "dark photograph with one light row", E::Refused, 0,
          "no board band"},
         writeOneLightRow},
        {{"grey.jpg", "grey-scale JPEG", E::Counted, kGreyBoards, ""},
         [](const fs::path& f) {
             sg::saveJpeg(sg::toGreyscale(renderPlan(kGreyBoards, 35).get()).get(), f.string());
             requireFrame(f, 0xC0, 1);
         }},
        {{"cmyk.jpg", "CMYK JPEG", E::Counted, kCmykBoards, ""}, writeCmyk},
        {{"progressive.jpg", "progressive JPEG", E::Counted, kProgressiveBoards, ""},
         [](const fs::path& f) {
             saveProgressive(renderPlan(kProgressiveBoards, 37).get(), f);
             requireFrame(f, 0xC2, 3);
         }},
        {{"large.jpg", "4000 x 3000 photograph", E::Counted, kLargeBoards, "", true, true},
         writeLarge},
    };
    return all;
}

}  // namespace

const char* toString(Expect expect) {
    switch (expect) {
        case Expect::Counted:
            return "counted";
        case Expect::CountedWithWarning:
            return "counted with a warning";
        case Expect::Refused:
            return "refused";
    }
    return "?";
}

void PrintTo(const CorpusCase& corpusCase, std::ostream* out) {
    *out << corpusCase.name << " (" << corpusCase.kind << ")";
}

std::vector<CorpusCase> corpusCases(bool large) {
    std::vector<CorpusCase> cases;
    for (const Entry& entry : entries()) {
        const CorpusCase& c = entry.corpusCase;
        if (c.large && !large) continue;
        if (c.name == "huge_progressive.jpg" && !AddressSpaceCap::available()) continue;
        cases.push_back(c);
    }
    return cases;
}

void writeCase(const CorpusCase& corpusCase, const fs::path& folder) {
    for (const Entry& entry : entries())
        if (entry.corpusCase.name == corpusCase.name) return entry.write(folder / corpusCase.name);
    throw std::out_of_range("no corpus case " + corpusCase.name);
}

std::vector<CorpusCase> writeCorpus(const fs::path& folder, bool large) {
    std::vector<CorpusCase> cases = corpusCases(large);
    for (const CorpusCase& c : cases) writeCase(c, folder);
    return cases;
}

CorpusCase corpusCase(const std::string& name) {
    for (const Entry& entry : entries())
        if (entry.corpusCase.name == name) return entry.corpusCase;
    throw std::out_of_range("no corpus case " + name);
}

int writeGoodPhotograph(const fs::path& file) {
    sg::saveJpeg(renderPlan(kGoodBoards, 39).get(), file.string());
    return kGoodBoards;
}

}  // namespace lathmark::test
