// End-to-end tests of what lathmark-count writes and says besides its counts, through the real
// program: output files that must not be replaced, or cannot be written, are refused before
// anything is counted; a failure to write is an error; folder arguments that give no photograph,
// entries that are no photograph and photographs named twice are each said; names reach a
// terminal escaped.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/programs.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using lathmark::test::ProgramRun;
using lathmark::test::shellQuoted;

const fs::path kSamples = fs::path(LATHMARK_SOURCE_DIR) / "samples";
const fs::path kCounter = fs::path(LATHMARK_BIN_DIR) / "lathmark-count";
constexpr int kStackBoards = 12;  // samples/stack_01.jpg

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What stands at `path`: its kind and, for a regular file, its bytes.
std::string snapshot(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return "nothing";
    if (S_ISREG(info.st_mode)) return "file " + readFile(path);
    if (S_ISFIFO(info.st_mode)) return "pipe";
    if (S_ISCHR(info.st_mode)) return "device";
    if (S_ISDIR(info.st_mode)) return "folder";
    return "other";
}

// Names in `folder` that begin with a dot: the writer's temporary files.
std::vector<std::string> hiddenNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().filename().string().starts_with(".")) names.push_back(entry.path());
    return names;
}

// A small tmpfs mounted over a folder while the object lives (root only).
class Mount {
  public:
    Mount(const fs::path& folder, unsigned long flags, const std::string& size)
        : folder_(folder),
          mounted_(::mount("tmpfs", folder.c_str(), "tmpfs", flags, ("size=" + size).c_str()) ==
                   0) {}
    ~Mount() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

  private:
    fs::path folder_;
    bool mounted_;
};

class Outputs : public ::testing::Test {
  public:
    ProgramRun count(const std::string& arguments) const {
        return lathmark::test::runProgram(
            shellQuoted(kCounter) + " --bdline 40 --threshold 128 " + arguments,
            folder_.path() / "stderr.txt");
    }
    const fs::path& scratch() const { return folder_.path(); }
    // A copy of a sample photograph of kStackBoards boards.
    fs::path photograph(const fs::path& file) const {
        fs::create_directories(file.parent_path());
        fs::copy_file(kSamples / "stack_01.jpg", file);
        return file;
    }
    void mount(const fs::path& folder, unsigned long flags, const std::string& size) {
        mounts_.push_back(std::make_unique<Mount>(folder, flags, size));
        if (!mounts_.back()->mounted()) throw std::runtime_error("tmpfs could not be mounted");
    }

  private:
    lathmark::ScratchFolder folder_ = lathmark::test::scratchFolderForThisTest("lathmark-outputs");
    std::vector<std::unique_ptr<Mount>> mounts_;  // unmounted before the folder goes
};

// A folder that cannot be written: a read-only file system as root (who may write anywhere
// else), its permissions otherwise.
void readOnlyFolder(Outputs& t, const fs::path& folder) {
    fs::create_directory(folder);
    if (::geteuid() == 0)
        t.mount(folder, MS_RDONLY, "16k");
    else
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
}

struct TargetCase {
    const char* name;
    bool rootOnly;
    // Makes what the case needs in `dir` and gives the arguments.
    std::function<std::string(Outputs&, const fs::path& dir)> setUp;
    int status;
    std::string inError;
    bool counted;      // whether anything reaches standard output (nothing does when refused)
    std::string kept;  // a file in `dir` that must stay as it was
};

// Each output that must not be written over, or cannot be written, through the counter: refused
// with status 2 before anything is counted, or, where only writing shows it, an error after the
// counts; whatever stood at the name stays, and no temporary file is left.
TEST_F(Outputs, TargetsThatMustNotBeReplacedOrCannotBeWrittenAreRefused) {
    const auto q = [](const fs::path& path) { return shellQuoted(path); };
    const auto truth = [](Outputs& t, const fs::path& dir) {
        t.photograph(dir / "p.jpg");
        std::ofstream(dir / "truth.tsv") << "file\tboards\np.jpg\t12\n";
        return dir / "truth.tsv";
    };
    const std::vector<TargetCase> cases = {
        {"report is a named pipe", false,
         [&](Outputs& t, const fs::path& dir) {
             ::mkfifo((dir / "r.html").c_str(), 0600);
             return "--report " + q(dir / "r.html") + " " + q(t.photograph(dir / "p.jpg"));
         },
         2, "the report " + std::string("%DIR%/r.html is a named pipe"), false, "r.html"},
        {"report is a device", true,
         [&](Outputs& t, const fs::path& dir) {
             ::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3));
             return "--report " + q(dir / "null") + " " + q(t.photograph(dir / "p.jpg"));
         },
         2, "%DIR%/null is a device", false, "null"},
        {"settings written to a device", true,
         [&](Outputs& t, const fs::path& dir) {
             ::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3));
             return "--calibrate " + q(truth(t, dir)) + " --write-settings " + q(dir / "null");
         },
         2, "the settings file %DIR%/null is a device", false, "null"},
        {"landscape is a named pipe", false,
         [&](Outputs& t, const fs::path& dir) {
             ::mkfifo((dir / "l.svg").c_str(), 0600);
             return "--calibrate " + q(truth(t, dir)) + " --landscape " + q(dir / "l.svg");
         },
         2, "the landscape %DIR%/l.svg is a named pipe", false, "l.svg"},
        {"landscape over the TRUTH file", false,
         [&](Outputs& t, const fs::path& dir) {
             return "--calibrate " + q(truth(t, dir)) + " --landscape " + q(dir / "truth.tsv");
         },
         2, "would replace the TRUTH file", false, "truth.tsv"},
        {"result image over its photograph", false,
         [&](Outputs& t, const fs::path& dir) {
             return "--marked " + q(dir) + " " + q(t.photograph(dir / "p.bmp"));
         },
         2, "the result image %DIR%/p.bmp would replace the photograph", false, "p.bmp"},
        {"report over another name of a photograph", false,
         [&](Outputs& t, const fs::path& dir) {
             fs::create_hard_link(t.photograph(dir / "p.jpg"), dir / "same.html");
             return "--report " + q(dir / "same.html") + " " + q(dir / "p.jpg");
         },
         2, "would replace the photograph %DIR%/p.jpg", false, "same.html"},
        {"report into a missing folder", false,
         [&](Outputs& t, const fs::path& dir) {
             return "--report " + q(dir / "gone" / "r.html") + " " + q(t.photograph(dir / "p.jpg"));
         },
         2, "there is no folder %DIR%/gone", false, ""},
        {"report into a read-only folder", false,
         [&](Outputs& t, const fs::path& dir) {
             readOnlyFolder(t, dir / "ro");
             return "--report " + q(dir / "ro" / "r.html") + " " + q(t.photograph(dir / "p.jpg"));
         },
         2, "the report %DIR%/ro/r.html cannot be written (", false, ""},
        {"result images into a read-only folder", false,
         [&](Outputs& t, const fs::path& dir) {
             readOnlyFolder(t, dir / "ro");
             return "--marked " + q(dir / "ro") + " " + q(t.photograph(dir / "p.jpg"));
         },
         2, "%DIR%/ro: cannot be used as the folder for result images: ", false, ""},
        {"result image on a full disk", true,
         [&](Outputs& t, const fs::path& dir) {
             fs::create_directory(dir / "full");
             t.mount(dir / "full", 0, "96k");
             const std::string arguments =
                 "--json --marked " + q(dir / "full") + " " + q(t.photograph(dir / "p.jpg"));
             t.count(arguments);  // a good earlier result image
             std::ofstream(dir / "full" / "filler") << std::string(96 << 10, 'x');
             return arguments;
         },
         1, "No space left on device", true, "full/p.bmp"},
        {"standard output on a full device", false,
         [&](Outputs& t, const fs::path& dir) {
             return "--csv " + q(t.photograph(dir / "p.jpg")) + " >/dev/full";
         },
         2, "standard output could not be written (No space left on device)", false, ""},
    };
    for (const TargetCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.rootOnly && ::geteuid() != 0) {
            std::cout << "[ SKIPPED  ] " << c.name << ": needs root\n";
            continue;
        }
        const fs::path dir = scratch() / c.name;
        fs::create_directories(dir);
        std::string arguments;
        try {
            arguments = c.setUp(*this, dir);
        } catch (const std::exception& e) {
            std::cout << "[ SKIPPED  ] " << c.name << ": " << e.what() << "\n";
            continue;
        }
        const std::string before = c.kept.empty() ? "" : snapshot(dir / c.kept);
        const ProgramRun run = count(arguments);
        EXPECT_EQ(run.status, c.status) << run.err;
        std::string inError = c.inError;
        if (const auto at = inError.find("%DIR%"); at != std::string::npos)
            inError.replace(at, 5, dir.string());
        EXPECT_NE((run.out + run.err).find(inError), std::string::npos) << inError << "\n"
                                                                        << run.out << run.err;
        EXPECT_EQ(!run.out.empty(), c.counted) << run.out;
        if (!c.kept.empty()) {
            EXPECT_EQ(snapshot(dir / c.kept), before) << c.kept;
        }
        for (const fs::path& folder : {dir, dir / "full"})
            EXPECT_EQ(hiddenNames(folder), std::vector<std::string>{}) << folder;
    }
}

struct EntryCase {
    std::string file;     // as the output names it, under the batch folder
    std::string error;    // words of its error; empty where it is counted
    std::string warning;  // words of its warning
};

// Folder arguments that give no photograph are errors naming why, each *.jpg entry that is no
// photograph is a photograph that cannot be counted, with the reason, and a photograph named
// again is counted again with a warning.
TEST_F(Outputs, WhatTheBatchCannotCountIsSaid) {
    const bool root = ::geteuid() == 0;
    const fs::path dir = scratch() / "batch";
    fs::create_directories(dir / "empty");
    fs::create_directories(dir / "jpeg");
    std::ofstream(dir / "jpeg" / "a.jpeg") << "x";
    fs::create_directories(dir / "closed");
    fs::permissions(dir / "closed", fs::perms::none);
    photograph(dir / "mixed" / "good.jpg");
    fs::create_symlink("nowhere.jpg", dir / "mixed" / "dangling.jpg");
    fs::create_symlink("loop.jpg", dir / "mixed" / "loop.jpg");
    ::mkfifo((dir / "mixed" / "pipe.jpg").c_str(), 0600);
    fs::create_directory(dir / "mixed" / "dir.jpg");
    photograph(dir / "mixed" / "unreadable.jpg");
    fs::permissions(dir / "mixed" / "unreadable.jpg", fs::perms::none);

    const ProgramRun run =
        count("--json " + shellQuoted(dir / "empty") + " " + shellQuoted(dir / "jpeg") + " " +
              shellQuoted(dir / "closed") + " " + shellQuoted(dir / "mixed") + " " +
              shellQuoted(dir / "mixed" / "." / "good.jpg"));
    fs::permissions(dir / "closed", fs::perms::owner_all);
    EXPECT_EQ(run.status, 1);
    for (const char* said :
         {"/empty: folder is empty\n",
          "/jpeg: folder holds no *.jpg photographs (*.jpeg files are not counted: name them "
          "*.jpg)\n",
          root ? "" : "/closed: folder cannot be read: Permission denied\n"})
        EXPECT_NE(run.err.find(said), std::string::npos) << said << "\n" << run.err;

    const std::vector<EntryCase> entries = {
        {"mixed/dangling.jpg", "is a symbolic link to nowhere.jpg, which does not exist", ""},
        {"mixed/dir.jpg", "is a directory, not a photograph", ""},
        {"mixed/good.jpg", "", ""},
        {"mixed/loop.jpg", "Too many levels of symbolic links", ""},
        {"mixed/pipe.jpg", "is not a regular file", ""},
        {"mixed/unreadable.jpg", root ? "" : "Permission denied", ""},
        {"mixed/./good.jpg", "",
         "the same file as " + (dir / "mixed" / "good.jpg").string() +
             ", named earlier in this batch: counted again"},
    };
    std::vector<Json> lines;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);) lines.push_back(Json::parse(line));
    ASSERT_EQ(lines.size(), entries.size() + 1) << run.out;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const EntryCase& e = entries[i];
        const Json& line = lines[i];
        SCOPED_TRACE(line.dump());
        EXPECT_EQ(line["file"], (dir / e.file).string());
        if (e.error.empty()) {
            EXPECT_EQ(line["boards"], kStackBoards);
        } else {
            EXPECT_NE(line["error"].get<std::string>().find(e.error), std::string::npos);
        }
        if (e.warning.empty())
            EXPECT_FALSE(line.contains("warning"));
        else
            EXPECT_EQ(line.value("warning", "").find(e.warning), 0u);
    }
}

// A name that holds control characters cannot break a text line or reach the terminal as a
// command; JSON and CSV carry it exactly.
TEST_F(Outputs, NamesReachATerminalEscapedAndJsonExactly) {
    const fs::path odd = photograph(scratch() / "new\nline\x1b[31m.jpg");
    const fs::path gone = scratch() / "gone\x07.jpg";
    const ProgramRun text = count(shellQuoted(odd) + " " + shellQuoted(gone));
    const std::string shown = scratch().string() + "/new\\nline\\x1b[31m.jpg: 12 boards (";
    EXPECT_EQ(text.out.find(shown), 0u) << text.out;
    EXPECT_NE(text.err.find(scratch().string() + "/gone\\x07.jpg: the file does not exist\n"),
              std::string::npos)
        << text.err;
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.err.find('\x07'), std::string::npos);

    const ProgramRun json = count("--json " + shellQuoted(odd));
    EXPECT_EQ(Json::parse(json.out.substr(0, json.out.find('\n')))["file"], odd.string());
}

}  // namespace
