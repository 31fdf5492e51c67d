// The one file writer: what each kind of name gets, what a failure leaves,
// and that a signal in the middle of a write leaves no temporary file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "support/AtomicFile.h"
#include "support/TempHome.h"

namespace cvn {
namespace {

namespace fs = std::filesystem;
using cvn::test::readFile;
using cvn::test::writeFile;
using Names = std::vector<std::string>;

mode_t modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

class AtomicFileTest : public ::testing::Test {
protected:
    AtomicFileTest() : oldMask_(::umask(022)) { fresh(); }
    ~AtomicFileTest() override { ::umask(oldMask_); }
    void fresh() {
        for (const std::string& d : {dir_, other_}) {
            fs::remove_all(d);
            fs::create_directories(d);
        }
    }
    // What both folders hold, sorted.
    Names names() const {
        Names out;
        for (const std::string& d : {dir_, other_})
            for (const auto& e : fs::directory_iterator(d)) out.push_back(e.path().filename());
        std::sort(out.begin(), out.end());
        return out;
    }

    mode_t oldMask_;
    cvn::test::TempHome home_;
    std::string dir_ = home_.root() + "/out";
    std::string other_ = home_.root() + "/elsewhere";
};

TEST_F(AtomicFileTest, EachKindOfNameIsWrittenByItsRule) {
    struct Cell {
        std::string name;    // written to, in the output folder
        std::string linkTo;  // the name is a link to this
        bool existing;       // the holder is there beforehand, with mode 0640
        mode_t newMode;
        std::string holder;  // the file that gets the bytes, from the output folder
        mode_t mode;         // and its permissions afterwards
        Names names;         // what the two folders hold afterwards, sorted
    } cells[] = {
        // A file keeps its permissions; a new one gets the default less the umask.
        {"f.csv", "", true, 0666, "f.csv", 0640, {"f.csv"}},
        {"n.csv", "", false, 0666, "n.csv", 0644, {"n.csv"}},
        {"p.ini", "", false, 0600, "p.ini", 0600, {"p.ini"}},
        // A link is written through and stays, also when its target is new.
        {"l.scp", "../elsewhere/t.scp", true, 0666, "../elsewhere/t.scp", 0640, {"l.scp", "t.scp"}},
        {"new.png",
         other_ + "/later.png",
         false,
         0666,
         "../elsewhere/later.png",
         0644,
         {"later.png", "new.png"}},
        // A link to a device is written directly, as /dev/stdout.
        {"stdout", "/dev/null", false, 0666, "", 0, {"stdout"}},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.name);
        fresh();
        const std::string path = dir_ + "/" + c.name, holder = dir_ + "/" + c.holder;
        if (c.existing) {
            writeFile(holder, "old");
            ::chmod(holder.c_str(), 0640);
        }
        if (!c.linkTo.empty()) fs::create_symlink(c.linkTo, path);
        ASSERT_NO_THROW(WriteFileAtomically(path, "new bytes", c.newMode));
        if (!c.holder.empty()) {
            EXPECT_EQ(readFile(holder), "new bytes");
            EXPECT_EQ(modeOf(holder), c.mode);
        }
        EXPECT_EQ(fs::is_symlink(path), !c.linkTo.empty());
        EXPECT_EQ(names(), c.names);
    }
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(AtomicFileTest, PipesAndStandardOutputAreWrittenWhereTheyAre) {
    // A FIFO with a reader gets the bytes and stays a FIFO.
    const std::string fifo = dir_ + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string got;
    std::thread reader([&] { got = readFile(fifo); });
    for (bool done = false; !done;) {  // the writer opens without waiting for the reader
        try {
            WriteFileAtomically(fifo, "through the pipe");
            done = true;
        } catch (const FileWriteError& e) {
            ASSERT_EQ(e.err(), ENXIO) << e.what();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    reader.join();
    EXPECT_EQ(got, "through the pipe");
    EXPECT_TRUE(fs::is_fifo(fifo));

    // "-" is standard output, never a file called "-".
    const int saved = ::dup(STDOUT_FILENO);
    const int file = ::open((dir_ + "/captured").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, STDOUT_FILENO);
    ::close(file);
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);
    EXPECT_NO_THROW(WriteFileAtomically("-", "image bytes"));
    fs::current_path(cwd);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    EXPECT_EQ(readFile(dir_ + "/captured"), "image bytes");
    EXPECT_EQ(names(), (Names{"captured", "pipe"}));
}

TEST_F(AtomicFileTest, FailuresLeaveTheFileAndNoTemporaryFile) {
    writeFile(dir_ + "/keep.csv", "kept");
    fs::create_directories(dir_ + "/folder.csv");
    ::mkfifo((dir_ + "/nobody-reads").c_str(), 0600);
    const std::pair<std::string, const char*> cells[] = {
        {dir_ + "/folder.csv", "it is a folder"},
        {dir_ + "/none/x.csv", "cannot create a file in"},
        {dir_ + "/nobody-reads", "no program reads the pipe"},  // and no hang
        {"", "no file name"},
    };
    for (const auto& [path, why] : cells) {
        try {
            WriteFileAtomically(path, "x");
            ADD_FAILURE() << path << " was written";
        } catch (const FileWriteError& e) {
            EXPECT_EQ(e.stage(), FileWriteStage::Open) << path;
            EXPECT_NE(e.description().find(why), std::string::npos) << e.description();
            EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
        }
    }
    AtomicFileWriter(dir_ + "/keep.csv").write("half");  // dropped before commit()
    EXPECT_EQ(readFile(dir_ + "/keep.csv"), "kept");
    // A read-only folder refuses the temporary file (root is not refused).
    if (::geteuid() != 0) {
        ::chmod(dir_.c_str(), 0500);
        EXPECT_THROW(WriteFileAtomically(dir_ + "/keep.csv", "new"), FileWriteError);
        ::chmod(dir_.c_str(), 0700);
        EXPECT_EQ(readFile(dir_ + "/keep.csv"), "kept");
    }
    EXPECT_EQ(names(), (Names{"folder.csv", "keep.csv", "nobody-reads"}));
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
        EXPECT_EQ(names(), Names{});
    }
}

}  // namespace
}  // namespace cvn
