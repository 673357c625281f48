// Tests of the writer every output goes through: a file written over keeps its permissions and
// owner, a name as long as the file system allows can be written, and a signal that ends the
// process leaves no temporary file behind.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "engine/files.h"
#include "tests/support/files.h"

namespace lathmark {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

struct WriterCase {
    const char* name;
    bool rootOnly;
    std::string file;
    std::function<void(const fs::path& file)> before;  // the target as it was; none: no file
    mode_t mode;                                       // the permissions after
    uid_t owner;                                       // the owner after
    FileWriter::Replacing replacing = FileWriter::Replacing::Atomically;
};

TEST(FileWriter, KeepsModeAndOwnerAndWritesNamesAsLongAsTheFileSystemAllows) {
    const ScratchFolder folder = test::scratchFolderForThisTest("lathmark-writer");
    const uid_t me = ::geteuid();
    const uid_t nobody = 65534;
    const auto existing = [](mode_t mode, uid_t owner) {
        return [=](const fs::path& file) {
            std::ofstream(file) << "an older version, longer than the new one";
            ASSERT_EQ(::chmod(file.c_str(), mode), 0);
            if (owner != ::geteuid()) {
                ASSERT_EQ(::chown(file.c_str(), owner, owner), 0);
            }
        };
    };
    const WriterCase cases[] = {
        {"new file", false, "new.ini", nullptr, static_cast<mode_t>(0644 & ~currentUmask()), me},
        {"private file", false, "private.ini", existing(0600, me), 0600, me},
        {"private file removed first", false, "private.bmp", existing(0600, me), 0600, me,
         FileWriter::Replacing::RemovingTheOldFirst},
        {"file of another owner", true, "theirs.ini", existing(0640, nobody), 0640, nobody},
        {"name of 255 bytes", false, std::string(251, 'n') + ".bmp", nullptr,
         static_cast<mode_t>(0644 & ~currentUmask()), me},
        {"name of 254 bytes ending in two-byte letters", false,
         std::string(200, 'n') +
             [] {
                 std::string letters;
                 for (int i = 0; i < 25; ++i) letters += "\xc3\xa9";
                 return letters;
             }() +
             ".jpg",
         existing(0640, me), 0640, me},
    };
    for (const WriterCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.rootOnly && me != 0) {
            std::cout << "[ SKIPPED  ] " << c.name << ": needs root\n";
            continue;
        }
        const fs::path dir = folder.path() / c.name;
        fs::create_directories(dir);
        const fs::path file = dir / c.file;
        if (c.before) c.before(file);
        ASSERT_EQ(writeWholeFile(file, "BDLINE=40\n", c.replacing), std::nullopt);
        EXPECT_EQ(readFile(file), "BDLINE=40\n");
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.mode);
        EXPECT_EQ(info.st_uid, c.owner);
        EXPECT_EQ(entries(dir), std::vector<std::string>{c.file});
    }
}

// A writer whose temporary file exists when a signal ends the process: the file is gone after.
TEST(FileWriter, LeavesNoTemporaryFileWhenASignalEndsTheProcess) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        const ScratchFolder folder = test::scratchFolderForThisTest("lathmark-writer");
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const FileWriter writer(folder.path() / "report.html");
            const char made = writer.failure() ? 'n' : 'y';
            if (::write(ready[1], &made, 1) != 1) ::_exit(3);
            while (true) ::pause();
        }
        ::close(ready[1]);
        char made = 0;
        ASSERT_EQ(::read(ready[0], &made, 1), 1);
        ::close(ready[0]);
        EXPECT_EQ(made, 'y');
        EXPECT_EQ(entries(folder.path()).size(), 1u) << "no temporary file was made";
        ASSERT_EQ(::kill(child, signal), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(entries(folder.path()), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace lathmark
