#pragma once
// A corpus of bad and unusual photographs for the tests of every face: files a count must
// refuse (cut off among them), damaged files whose picture is whole, which it counts with a
// warning, and valid JPEGs in less common forms.
// Everything is made here from the sample generator (tools/samplegen.h) and byte edits of its
// output, so the tests need nothing from outside the repository.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"

namespace lathmark::test {

// What a count of a corpus file must come to.
enum class Expect {
    Counted,             // counted; `boards` is the count the generator laid out
    CountedWithWarning,  // counted, with a warning that holds `words`
    Refused,             // not counted; the reason holds `words`
};

const char* toString(Expect expect);

struct CorpusCase {
    std::string name;  // the file's name in the corpus folder
    std::string kind;  // what the file is, in a few words
    Expect expect = Expect::Refused;
    int boards = 0;      // Counted, CountedWithWarning: the exact board count
    std::string words;   // in the reason or the warning, letter case ignored; "" for Counted
    bool listed = true;  // whether a folder listing offers it (a directory is never offered)
    bool large = false;  // the 4000 x 3000 photograph, which takes seconds to make
};

// For test output: the case's name and kind.
void PrintTo(const CorpusCase& corpusCase, std::ostream* out);

// Every case of the corpus, in a fixed order. Without the large photograph if `large` is false.
// Under AddressSanitizer the progressive frame that claims 65000 x 65000 pixels is left out: a
// count that fell for it would try to take gigabytes, and no address-space cap can stop it there.
std::vector<CorpusCase> corpusCases(bool large = true);

// Writes one case's file (or folder) into `folder`, which must exist. The large photograph is
// taken from a cache beside the test programs when it is there, and put there when it is not.
void writeCase(const CorpusCase& corpusCase, const std::filesystem::path& folder);

// Writes every case of corpusCases(large) into `folder` and returns them.
std::vector<CorpusCase> writeCorpus(const std::filesystem::path& folder, bool large = true);

// The case with this name; throws std::out_of_range if there is none.
CorpusCase corpusCase(const std::string& name);

// A plain good photograph, unlike any in the corpus; returns its board count.
int writeGoodPhotograph(const std::filesystem::path& file);

// Whether `text` holds `words`, ignoring the letter case of ASCII letters.
bool mentions(const std::string& text, const std::string& words);

// The frame header (SOFn segment) of a JPEG held in bytes.
struct JpegFrame {
    unsigned char marker = 0;  // 0xC0 baseline, 0xC2 progressive, ...
    std::size_t offset = 0;    // where the segment's 0xFF is
    int height = 0;
    int width = 0;
    int components = 0;
};

// The first frame header, found by walking the marker segments from the start of the file.
std::optional<JpegFrame> findJpegFrame(const std::string& bytes);

// Lowers this process's address-space limit to what it takes now plus `headroomBytes` for as
// long as the object lives, so that a count that tries to take far more memory fails there
// instead of taking the machine's memory. Does nothing where active() is false: under
// AddressSanitizer, which reserves terabytes of address space up front.
class AddressSpaceCap {
  public:
    explicit AddressSpaceCap(std::uint64_t headroomBytes);
    ~AddressSpaceCap();
    AddressSpaceCap(const AddressSpaceCap&) = delete;
    AddressSpaceCap& operator=(const AddressSpaceCap&) = delete;

    static bool available();
    bool active() const { return active_; }

    // The process's address space now, in bytes.
    static std::uint64_t currentBytes();

  private:
    bool active_ = false;
    std::uint64_t previousSoftLimit_ = 0;
};

// Stands at the far end of a named pipe while it lives. After `grace`, it drains whatever a
// writer put into the pipe and lets a reader waiting in open() for a writer go on, so that a
// program stuck on the pipe finishes and its test can fail instead of hanging. A broken pipe
// does not end this process meanwhile.
class PipeRescuer {
  public:
    PipeRescuer(std::filesystem::path pipe, std::chrono::milliseconds grace);
    ~PipeRescuer();
    PipeRescuer(const PipeRescuer&) = delete;
    PipeRescuer& operator=(const PipeRescuer&) = delete;

    // Whether something was stuck on the pipe and had to be let go.
    bool rescued() const { return rescued_; }

  private:
    void standBy(std::chrono::milliseconds grace);

    std::filesystem::path pipe_;
    std::atomic<bool> done_{false};
    std::atomic<bool> rescued_{false};
    void (*previousSigpipe_)(int) = nullptr;
    std::thread thread_;
};

}  // namespace lathmark::test
