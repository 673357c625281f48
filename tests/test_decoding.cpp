// A photograph is counted only when its whole picture was decoded from its data. Damaged files
// are made here from a sample photograph coded every way the decoder reads (Huffman and
// arithmetic, sequential and progressive, with and without restart markers); each must be
// counted right, counted with the warning it deserves, or refused for the reason it deserves,
// whatever the decoder said first.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/counting.h"
#include "engine/decode_verdict.h"
#include "tests/support/corpus.h"
#include "tests/support/files.h"
#include "tests/support/jpeg_coding.h"
#include "tests/support/programs.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;
using test::Expect;
using test::JpegCoding;

const fs::path kSamples = fs::path(LATHMARK_SOURCE_DIR) / "samples";
constexpr int kSampleBoards = 16;  // samples/stack_02.jpg, by samples/manifest.tsv
constexpr Settings kBundled{.threshold = 128, .bdLine = 40};

const std::string kCutOff = "the file ends before the picture does: it is cut off";
const std::string kMissing = "part of the picture data is missing";
const std::string kUnused = "part of the data unused";

// The sample, coded as asked.
std::string sample(const JpegCoding& coding) {
    static const std::string original = test::readBytes(kSamples / "stack_02.jpg");
    return test::recoded(original, coding);
}
const JpegCoding kHuffman{};
const JpegCoding kHuffmanProgressive{.progressive = true};
const JpegCoding kHuffmanRestarts{.restartRows = 1};
const JpegCoding kArithmetic{.arithmetic = true};
const JpegCoding kArithmeticProgressive{.arithmetic = true, .progressive = true};
const JpegCoding kArithmeticRestarts{.arithmetic = true, .restartRows = 1};
const JpegCoding kArithmeticProgressiveRestarts{
    .arithmetic = true, .progressive = true, .restartRows = 2};

std::string keepShare(const std::string& jpeg, int numerator, int denominator) {
    return jpeg.substr(0, jpeg.size() * static_cast<std::size_t>(numerator) /
                              static_cast<std::size_t>(denominator));
}

// Without the end-of-image marker and the last byte of picture data.
std::string withoutLastDataByte(const std::string& jpeg) {
    return jpeg.substr(0, jpeg.size() - 3);
}

std::string withHeight(std::string jpeg, int height) {
    const std::size_t at = test::findJpegFrame(jpeg).value().offset + 5;
    jpeg[at] = static_cast<char>(height >> 8);
    jpeg[at + 1] = static_cast<char>(height & 0xFF);
    return jpeg;
}

int heightOf(const std::string& jpeg) {
    return test::findJpegFrame(jpeg).value().height;
}

// Where the first restart marker of the picture data is.
std::size_t firstRestart(const std::string& jpeg) {
    for (std::size_t at = jpeg.find("\xFF\xDA"); at + 1 < jpeg.size(); ++at)
        if (jpeg[at] == '\xFF' && (static_cast<unsigned char>(jpeg[at + 1]) & 0xF8) == 0xD0)
            return at;
    throw std::runtime_error("no restart marker");
}

std::string insertedBeforeEnd(std::string jpeg, const std::string& bytes) {
    return jpeg.insert(jpeg.size() - 2, bytes);
}

// A 4 KB sector of zero bytes in the middle of the file, as a damaged disk leaves it.
std::string withLostSector(std::string jpeg) {
    std::fill_n(jpeg.begin() + static_cast<long>(jpeg.size() / 2), 4096, '\0');
    return jpeg;
}

// 64 bytes in the middle of the first scan's data overwritten with bytes of seven 1 bits, which
// make codes no Huffman table of the JPEG library has.
std::string withDamagedData(std::string jpeg) {
    const std::size_t scan = jpeg.find("\xFF\xDA");
    const std::size_t next = jpeg.find("\xFF\xDA", scan + 2);
    const std::size_t end = next == std::string::npos ? jpeg.size() : next;
    std::fill_n(jpeg.begin() + static_cast<long>((scan + end) / 2), 64, '\xFE');
    return jpeg;
}

// `scans` scans in all: copies of the last scan's header, each with a few bytes of data.
std::string withScans(const std::string& jpeg, int scans) {
    const std::size_t last = jpeg.rfind("\xFF\xDA");
    const auto length = static_cast<std::size_t>((static_cast<unsigned char>(jpeg[last + 2]) << 8) |
                                                 static_cast<unsigned char>(jpeg[last + 3]));
    const std::string scan = jpeg.substr(last, 2 + length) + std::string(8, '\x12');
    std::string many;
    for (int i = 10; i < scans; ++i) many += scan;  // the progressive sample has 10
    return insertedBeforeEnd(jpeg, many);
}

// An Exif segment after the start-of-image marker whose first directory holds the orientation
// tag, in Intel or Motorola byte order; the directory starts at `directory` in the TIFF data.
std::string withOrientation(const std::string& jpeg, int orientation, bool intel,
                            std::uint32_t directory = 8) {
    const auto put = [](std::string& out, std::uint32_t value, int bytes, bool lowFirst) {
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>(value >> (8 * (lowFirst ? i : bytes - 1 - i)));
    };
    std::string tiff = intel ? "II" : "MM";
    put(tiff, 42, 2, intel);
    for (const auto& [value, bytes] : {std::pair<std::uint32_t, int>{directory, 4},
                                       {1, 2},  // one entry: orientation, a SHORT, count 1
                                       {0x0112, 2},
                                       {3, 2},
                                       {1, 4},
                                       {static_cast<std::uint32_t>(orientation), 2},
                                       {0, 2},
                                       {0, 4}})  // no next directory
        put(tiff, value, bytes, intel);
    const std::string payload = std::string("Exif\0\0", 6) + tiff;
    std::string segment = "\xFF\xE1";
    put(segment, static_cast<std::uint32_t>(payload.size() + 2), 2, false);
    return jpeg.substr(0, 2) + segment + payload + jpeg.substr(2);
}

struct DamageCase {
    std::string name;
    std::function<std::string()> make;
    Expect expect;
    std::string words;         // in the reason or the warning
    bool wholeWarning = true;  // whether the words are all of the warning
    double mostSeconds = 0;    // if not 0, the longest the count may take
};

// A JFXX segment after the JFIF one, holding a progressive thumbnail whose frame claims 20000 x
// 20000 pixels: the library would decode it with the photograph, taking gigabytes.
std::string withHugeThumbnail(const std::string& jpeg) {
    const Bitmap pixels(FreeImage_Allocate(16, 16, 24));
    std::string thumbnail = test::savedJpeg(pixels.get(), JPEG_PROGRESSIVE);
    const std::size_t frame = test::findJpegFrame(thumbnail).value().offset;
    thumbnail.replace(frame + 5, 4, "\x4E\x20\x4E\x20");
    const std::string payload = std::string("JFXX\0\x10", 6) + thumbnail;
    const std::size_t jfifEnd =
        4 + ((static_cast<unsigned char>(jpeg[4]) << 8) | static_cast<unsigned char>(jpeg[5]));
    return jpeg.substr(0, jfifEnd) + "\xFF\xE0" + static_cast<char>((payload.size() + 2) >> 8) +
           static_cast<char>((payload.size() + 2) & 0xFF) + payload + jpeg.substr(jfifEnd);
}

std::vector<DamageCase> damageCases() {
    using E = Expect;
    std::vector<DamageCase> cases = {
        {"arithmetic", [] { return sample(kArithmetic); }, E::Counted, ""},
        {"arithmetic, progressive, restart markers",
         [] { return sample(kArithmeticProgressiveRestarts); }, E::Counted, ""},
        {"arithmetic, cut at a tenth", [] { return keepShare(sample(kArithmetic), 1, 10); },
         E::Refused, kCutOff},
        {"arithmetic, cut at half", [] { return keepShare(sample(kArithmetic), 1, 2); }, E::Refused,
         kCutOff},
        {"arithmetic, last data byte cut", [] { return withoutLastDataByte(sample(kArithmetic)); },
         E::Refused, kCutOff},
        {"arithmetic, progressive, cut at half",
         [] { return keepShare(sample(kArithmeticProgressive), 1, 2); }, E::Refused, kCutOff},
        {"arithmetic, progressive, last data byte cut",
         [] { return withoutLastDataByte(sample(kArithmeticProgressive)); }, E::Refused, kCutOff},
        {"arithmetic, restart markers, cut at a tenth",
         [] { return keepShare(sample(kArithmeticRestarts), 1, 10); }, E::Refused, kCutOff},
        {"arithmetic, restart markers, cut at half",
         [] { return keepShare(sample(kArithmeticRestarts), 1, 2); }, E::Refused, kCutOff},
        {"arithmetic, progressive, restart markers, last data byte cut",
         [] { return withoutLastDataByte(sample(kArithmeticProgressiveRestarts)); }, E::Refused,
         kCutOff},
        {"arithmetic, frame claims 16 rows more",
         [] {
             const std::string jpeg = sample(kArithmetic);
             return withHeight(jpeg, heightOf(jpeg) + 16);
         },
         E::Refused, kMissing},
        {"frame height halved",
         [] {
             const std::string jpeg = sample(kHuffman);
             return withHeight(jpeg, heightOf(jpeg) / 2);
         },
         E::Refused, kUnused},
        {"arithmetic, restart markers, frame height halved",
         [] {
             const std::string jpeg = sample(kArithmeticRestarts);
             return withHeight(jpeg, heightOf(jpeg) / 2);
         },
         E::Refused, kUnused},
        {"restart markers, a sector lost", [] { return withLostSector(sample(kHuffmanRestarts)); },
         E::Refused, kMissing},
        {"progressive, damaged data", [] { return withDamagedData(sample(kHuffmanProgressive)); },
         E::Refused, "Corrupt JPEG data: bad Huffman code"},
        {"arithmetic, damaged data", [] { return withDamagedData(sample(kArithmetic)); },
         E::Refused, ""},
        // The stray byte's harmless warning comes first and must not hide the cut.
        {"restart markers, a stray byte, then cut",
         [] {
             std::string jpeg = sample(kHuffmanRestarts);
             return keepShare(jpeg.insert(firstRestart(jpeg), "\x12"), 3, 4);
         },
         E::Refused, kCutOff},
        {"arithmetic, restart markers, a stray byte, then cut",
         [] {
             std::string jpeg = sample(kArithmeticRestarts);
             return keepShare(jpeg.insert(firstRestart(jpeg), "\x12"), 3, 4);
         },
         E::Refused, kCutOff},
        {"20000 scans", [] { return withScans(sample(kHuffmanProgressive), 20000); }, E::Refused,
         "has 20000 scans, more than the 100 a photograph may have", true, 0.5},
        {"restart markers", [] { return sample(kHuffmanRestarts); }, E::Counted, ""},
        {"restart markers, two bytes of padding",
         [] {
             std::string jpeg = sample(kHuffmanRestarts);
             return jpeg.insert(firstRestart(jpeg), std::string(2, '\0'));
         },
         E::CountedWithWarning, "Corrupt JPEG data: 2 extraneous bytes before marker", false},
        {"a thumbnail that claims 400 megapixels",
         [] { return withHugeThumbnail(test::readBytes(kSamples / "stack_02.jpg")); }, E::Counted,
         "", true, 2.0},
        {"orientation tag past the end of its segment",
         [] { return withOrientation(sample(kHuffman), 6, true, 4000); }, E::Counted, ""},
    };
    // Every orientation, in both byte orders.
    const char* const tagged[] = {"",
                                  "",
                                  "mirrored",
                                  "turned 180°",
                                  "mirrored and turned 180°",
                                  "mirrored and turned 270°",
                                  "turned 90°",
                                  "mirrored and turned 90°",
                                  "turned 270°"};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const bool intel = orientation % 2 == 0;
        cases.push_back(
            {"orientation " + std::to_string(orientation) + (intel ? ", Intel" : ", Motorola"),
             [orientation, intel] { return withOrientation(sample(kHuffman), orientation, intel); },
             orientation == 1 ? E::Counted : E::CountedWithWarning,
             orientation == 1 ? ""
                              : "the photograph is tagged as " + std::string(tagged[orientation]) +
                                    "; it is counted as stored"});
    }
    return cases;
}

TEST(Decoding, APhotographIsCountedOnlyWhenItsWholePictureWasDecodedFromItsData) {
    for (const DamageCase& c : damageCases()) {
        SCOPED_TRACE(c.name);
        const std::string jpeg = c.make();
        const auto start = std::chrono::steady_clock::now();
        const CountResult result =
            countJpegInMemory(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size(),
                              "damaged.jpg", kBundled);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (c.mostSeconds > 0) {
            EXPECT_LT(took.count(), c.mostSeconds);
        }
        if (c.expect == Expect::Refused) {
            ASSERT_FALSE(result.ok()) << "counted " << result.boards() << " boards";
            EXPECT_TRUE(test::mentions(result.error->reason, c.words)) << result.error->reason;
            continue;
        }
        ASSERT_TRUE(result.ok()) << result.error->reason;
        EXPECT_EQ(result.boards(), kSampleBoards);
        if (c.wholeWarning) {
            EXPECT_EQ(result.warning, c.words);
        } else {
            EXPECT_TRUE(test::mentions(result.warning, c.words)) << result.warning;
        }
    }
}

struct MeaningCase {
    const char* message;
    MessageMeaning meaning;
};

TEST(Decoding, EachDecoderMessageIsKnownByItsFormatWhateverItsNumbers) {
    using M = MessageMeaning;
    const MeaningCase cases[] = {
        {"Corrupt JPEG data: premature end of data segment", M::DataLost},
        {"Premature end of JPEG file", M::DataLost},
        {"Corrupt JPEG data: found marker 0xd9 instead of RST7", M::DataLost},
        {"Corrupt JPEG data: bad Huffman code", M::Refuses},
        {"Corrupt JPEG data: bad arithmetic code", M::Refuses},
        {"Inconsistent progression sequence for component 0 coefficient 1", M::Refuses},
        {"Unknown Adobe color transform code 7", M::Refuses},
        {"Corrupt JPEG data: 8 extraneous bytes before marker 0xd9", M::Harmless},
        {"Corrupt JPEG data: 9 extraneous bytes before marker 0xc4", M::Refuses},
        {"Warning: unknown JFIF revision number 3.01", M::Harmless},
        {"Unsupported marker type 0x04", M::Harmless},
        {"Corrupt JPEG data: bad Huffman code!", M::Unknown},
        {"Corrupt JPEG data: many extraneous bytes before marker 0xd9", M::Unknown},
        {"Not a JPEG file: starts with 0x89 0x50", M::Unknown},
    };
    for (const MeaningCase& c : cases) EXPECT_EQ(meaningOf(c.message), c.meaning) << c.message;
}

struct VerdictCase {
    const char* name;
    DecodeFacts facts;
    std::string words;  // in the reason; "" for a photograph that is counted
    std::string warning = "";
};

// The message of zero run `run` after a scan, when the scan took `taken` bytes of it.
std::string runLeft(int run, long taken, unsigned marker = 0xd9) {
    char text[100];
    std::snprintf(text, sizeof text, "Corrupt JPEG data: %ld extraneous bytes before marker 0x%02x",
                  static_cast<long>(zeroRunLength(run)) - taken, marker);
    return text;
}

TEST(Decoding, TheVerdictWeighsEverythingTheDecodeLearnt) {
    const auto facts = [](std::vector<std::string> said, std::vector<unsigned> runs = {}) {
        DecodeFacts f;
        f.ending = JpegEnding::Marked;
        f.hasFrame = f.scansComplete = f.decoded = true;
        f.said = std::move(said);
        f.zeroRunMarkers = std::move(runs);
        return f;
    };
    const std::string stray = "Corrupt JPEG data: 3 extraneous bytes before marker 0xdb";
    DecodeFacts unheard = facts({stray});
    unheard.everyWarningHeard = false;
    DecodeFacts unmarked = facts({});
    unmarked.ending = JpegEnding::Unmarked;
    unmarked.zeroRunMarkers = {0xd9};
    DecodeFacts unfinished = facts({});
    unfinished.scansComplete = false;
    DecodeFacts frameUnseen = facts({});
    frameUnseen.hasFrame = false;
    DecodeFacts dependsOnEnd = facts({runLeft(0, 2)}, {0xd9});
    dependsOnEnd.ending = JpegEnding::Unmarked;
    dependsOnEnd.pictureDependsOnMissingEnd = true;
    const VerdictCase cases[] = {
        {"nothing said", facts({}), ""},
        {"a harmless warning", facts({stray}), "", stray},
        {"a warning, and later ones perhaps unheard", unheard, "more faults"},
        {"a message the table does not know", facts({"Something new"}), "cannot judge"},
        {"scans that leave coefficients uncoded", unfinished, "do not code the whole picture"},
        {"a frame the segment walk did not see", frameUnseen, "segments show none"},
        {"scans that took a few bytes of their runs, in any order",
         facts({runLeft(1, 5, 0xc4), stray, runLeft(0, 2, 0xda)}, {0xda, 0xc4}), "", stray},
        {"a run taken whole", facts({runLeft(0, 2, 0xda)}, {0xda, 0xd9}),
         "part of the picture data is missing"},
        {"a run taken whole at the end of a file without its end", unmarked, "it is cut off"},
        {"a run's message before another marker", facts({runLeft(0, 2, 0xc4)}, {0xd9}), "missing"},
        {"data left over before a run", facts({runLeft(0, -20)}, {0xd9}), "20 bytes"},
        {"a picture that depends on what a cut took", dependsOnEnd, "it is cut off"},
    };
    for (const VerdictCase& c : cases) {
        SCOPED_TRACE(c.name);
        const DecodeVerdict verdict = judgeDecode(c.facts);
        if (c.words.empty()) {
            EXPECT_EQ(verdict.refusal, std::nullopt);
            EXPECT_EQ(verdict.warning, c.warning);
        } else {
            ASSERT_TRUE(verdict.refusal);
            EXPECT_TRUE(test::mentions(*verdict.refusal, c.words)) << *verdict.refusal;
        }
    }
}

// Both programs stand in for the library's jpeg_std_error (engine/jpeg_warnings.h): the batch
// counter refuses a cut file whose first warning is harmless, and the window's program has the
// same stand-in in its dynamic symbol table, where the library finds it.
TEST(Decoding, BothProgramsHearEveryWarningOfTheDecoder) {
    const ScratchFolder folder = test::scratchFolderForThisTest("lathmark-decoding");
    std::string jpeg = sample(kHuffmanRestarts);
    jpeg = keepShare(jpeg.insert(firstRestart(jpeg), "\x12"), 3, 4);
    const fs::path file = folder.path() / "stray_then_cut.jpg";
    test::writeBytes(file, jpeg);
    const fs::path bin = LATHMARK_BIN_DIR;
    const test::ProgramRun count =
        test::runProgram(test::shellQuoted(bin / "lathmark-count") +
                             " --json --bdline 40 --threshold 128 " + test::shellQuoted(file),
                         folder.path() / "stderr.txt");
    EXPECT_EQ(count.status, 1) << count.err;
    EXPECT_TRUE(test::mentions(count.out, kCutOff)) << count.out;

    for (const char* program : {"lathmark-count", "lathmark"}) {
        if (!fs::exists(bin / program)) continue;  // the window is built only with Qt
        const test::ProgramRun symbols = test::runProgram(
            "nm -D --defined-only " + test::shellQuoted(bin / program), folder.path() / "nm.txt");
        EXPECT_NE(symbols.out.find(" T jpeg_std_error\n"), std::string::npos)
            << program << ": " << symbols.err;
    }
}

}  // namespace
}  // namespace lathmark
