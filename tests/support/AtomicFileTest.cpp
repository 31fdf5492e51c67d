// The one file writer: what each kind of name gets, what a failure leaves,
// and that a signal in the middle of a write leaves no temporary file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "support/AtomicFile.h"
#include "support/TempHome.h"

namespace cvn {
namespace {

namespace fs = std::filesystem;
using cvn::test::readFile;
using cvn::test::writeFile;

class AtomicFileTest : public ::testing::Test {
protected:
    AtomicFileTest() {
        oldMask_ = ::umask(022);
        fs::create_directories(dir_);
        fs::create_directories(other_);
    }
    ~AtomicFileTest() override { ::umask(oldMask_); }

    // Names in both folders that are not what a test put there.
    std::vector<std::string> strays(const std::vector<std::string>& expected) const {
        std::vector<std::string> out;
        for (const std::string& d : {dir_, other_})
            for (const auto& e : fs::directory_iterator(d)) {
                const std::string name = e.path().filename().string();
                if (std::find(expected.begin(), expected.end(), name) == expected.end())
                    out.push_back(name);
            }
        return out;
    }

    static mode_t modeOf(const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }

    cvn::test::TempHome home_;
    std::string dir_ = home_.root() + "/out";
    std::string other_ = home_.root() + "/elsewhere";
    mode_t oldMask_ = 0;
};

TEST_F(AtomicFileTest, EachKindOfNameIsWrittenByItsRule) {
    struct Cell {
        const char* what;
        std::function<std::string(const std::string& dir, const std::string& other)> prepare;
        mode_t newMode;
        // Checked after "new bytes" went to the name prepare gave.
        std::function<void(const std::string& dir, const std::string& other)> check;
        std::vector<std::string> names;  // what the two folders hold afterwards
    } cells[] = {
        {"a file keeps its permissions",
         [](auto& d, auto&) {
             writeFile(d + "/f.csv", "old");
             ::chmod((d + "/f.csv").c_str(), 0640);
             return d + "/f.csv";
         },
         0666,
         [](auto& d, auto&) {
             EXPECT_EQ(readFile(d + "/f.csv"), "new bytes");
             EXPECT_EQ(modeOf(d + "/f.csv"), 0640u);
         },
         {"f.csv"}},
        {"a new file gets the default less the umask",
         [](auto& d, auto&) { return d + "/n.csv"; },
         0666,
         [](auto& d, auto&) { EXPECT_EQ(modeOf(d + "/n.csv"), 0644u); },
         {"n.csv"}},
        {"a new private file",
         [](auto& d, auto&) { return d + "/p.ini"; },
         0600,
         [](auto& d, auto&) { EXPECT_EQ(modeOf(d + "/p.ini"), 0600u); },
         {"p.ini"}},
        {"a link is written through and stays",
         [](auto& d, auto& o) {
             writeFile(o + "/t.scp", "old");
             ::chmod((o + "/t.scp").c_str(), 0600);
             fs::create_symlink("../elsewhere/t.scp", d + "/l.scp");
             return d + "/l.scp";
         },
         0666,
         [](auto& d, auto& o) {
             EXPECT_TRUE(fs::is_symlink(d + "/l.scp"));
             EXPECT_EQ(readFile(o + "/t.scp"), "new bytes");
             EXPECT_EQ(modeOf(o + "/t.scp"), 0600u);
         },
         {"l.scp", "t.scp"}},
        {"a link to nothing yet makes its target",
         [](auto& d, auto& o) {
             fs::create_symlink(o + "/later.png", d + "/dangling.png");
             return d + "/dangling.png";
         },
         0666,
         [](auto& d, auto& o) {
             EXPECT_TRUE(fs::is_symlink(d + "/dangling.png"));
             EXPECT_EQ(readFile(o + "/later.png"), "new bytes");
         },
         {"dangling.png", "later.png"}},
        {"a link to a device is written directly, as /dev/stdout",
         [](auto& d, auto&) {
             fs::create_symlink("/dev/null", d + "/stdout");
             return d + "/stdout";
         },
         0666,
         [](auto& d, auto&) {
             EXPECT_EQ(fs::read_symlink(d + "/stdout"), "/dev/null");
             EXPECT_TRUE(fs::is_character_file("/dev/null"));
         },
         {"stdout"}},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir_);
        fs::remove_all(other_);
        fs::create_directories(dir_);
        fs::create_directories(other_);
        const std::string path = c.prepare(dir_, other_);
        ASSERT_NO_THROW(WriteFileAtomically(path, "new bytes", c.newMode));
        c.check(dir_, other_);
        EXPECT_EQ(strays(c.names), std::vector<std::string>{});
    }
}

TEST_F(AtomicFileTest, PipesAndStandardOutputAreWrittenWhereTheyAre) {
    // A FIFO with a reader gets the bytes and stays a FIFO.
    const std::string fifo = dir_ + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string got;
    std::thread reader([&] { got = readFile(fifo); });
    while (true) {  // the writer opens without waiting, so wait for the reader
        try {
            WriteFileAtomically(fifo, "through the pipe");
            break;
        } catch (const FileWriteError& e) {
            ASSERT_EQ(e.err(), ENXIO) << e.what();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    reader.join();
    EXPECT_EQ(got, "through the pipe");
    EXPECT_TRUE(fs::is_fifo(fifo));

    // "-" is standard output, never a file called "-".
    const std::string captured = dir_ + "/captured";
    const int saved = ::dup(STDOUT_FILENO);
    const int file = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, STDOUT_FILENO);
    ::close(file);
    const std::string cwd = fs::current_path();
    fs::current_path(dir_);
    EXPECT_NO_THROW(WriteFileAtomically("-", "image bytes"));
    fs::current_path(cwd);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    EXPECT_EQ(readFile(captured), "image bytes");
    EXPECT_EQ(strays({"pipe", "captured"}), std::vector<std::string>{});
}

TEST_F(AtomicFileTest, FailuresLeaveTheFileAndNoTemporaryFile) {
    writeFile(dir_ + "/keep.csv", "kept");
    fs::create_directories(dir_ + "/folder.csv");
    const std::string lonelyPipe = dir_ + "/nobody-reads";
    ::mkfifo(lonelyPipe.c_str(), 0600);
    struct Cell {
        std::string path;
        FileWriteStage stage;
        const char* why;
    } cells[] = {
        {dir_ + "/folder.csv", FileWriteStage::Open, "it is a folder"},
        {dir_ + "/none/x.csv", FileWriteStage::Open, "cannot create a file in"},
        {lonelyPipe, FileWriteStage::Open, "no program reads the pipe"},  // and no hang
        {"", FileWriteStage::Open, "no file name"},
    };
    for (const Cell& c : cells) {
        try {
            WriteFileAtomically(c.path, "x");
            ADD_FAILURE() << c.path << " was written";
        } catch (const FileWriteError& e) {
            EXPECT_EQ(e.stage(), c.stage) << c.path;
            EXPECT_NE(e.description().find(c.why), std::string::npos) << e.description();
            EXPECT_NE(e.description().find(c.path), std::string::npos) << e.description();
        }
    }
    // A writer dropped before commit() leaves the old file.
    {
        AtomicFileWriter partial(dir_ + "/keep.csv");
        partial.write("half");
    }
    EXPECT_EQ(readFile(dir_ + "/keep.csv"), "kept");
    // A read-only folder refuses the temporary file (root is not refused).
    if (::geteuid() != 0) {
        ::chmod(dir_.c_str(), 0500);
        EXPECT_THROW(WriteFileAtomically(dir_ + "/keep.csv", "new"), FileWriteError);
        ::chmod(dir_.c_str(), 0700);
        EXPECT_EQ(readFile(dir_ + "/keep.csv"), "kept");
    }
    EXPECT_EQ(strays({"keep.csv", "folder.csv", "nobody-reads"}), std::vector<std::string>{});
}

TEST_F(AtomicFileTest, AStopSignalMidWriteRemovesTheTemporaryFiles) {
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            InstallTempFileCleanup();
            AtomicFileWriter big(dir_ + "/big.csv");
            big.write(std::string(3 << 20, 'x'));  // formatting under way
            AtomicFileWriter second(dir_ + "/second.csv");
            (void)!::write(ready[1], "r", 1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char c = 0;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);
        ::close(ready[0]);
        ::kill(child, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(strays({}), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace cvn
