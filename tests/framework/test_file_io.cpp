#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "framework/file_error.h"
#include "framework/file_io.h"
#include "test_document_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

std::size_t CountEntries(const fs::path& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) {
        ++n;
    }
    return n;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

}  // namespace

TEST(FileIo, ReadsRegularFilesOnlyAndNeverWaits) {
    const TempDir dir;
    const std::string file = dir.File("a.tgv");
    WriteBytes(file, {1, 2, 3});
    Bytes bytes{9};
    EXPECT_EQ(ReadWholeFile(file, bytes), 0);
    EXPECT_EQ(bytes, (Bytes{1, 2, 3}));

    EXPECT_EQ(ReadWholeFile(dir.File("none.tgv"), bytes), ENOENT);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(ReadWholeFile(dir.Path().string(), bytes), EISDIR);

    // A pipe without a writer would block a plain read forever.
    const std::string fifo = dir.File("pipe.tgv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadWholeFile(fifo, bytes), EINVAL);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(FileIo, ReplacingKeepsPermissionsAndLinksAndLeavesNothingBehind) {
    const TempDir dir;
    const std::string file = dir.File("plant.tgv");

    EXPECT_EQ(WriteFileReplacing(file, Bytes{1, 2}), 0);
    EXPECT_EQ(ReadBytes(file), (Bytes{1, 2}));
    EXPECT_EQ(ModeOf(file) & 0600, 0600u);  // an ordinary new file, not a private temporary

    ::chmod(file.c_str(), 0640);
    EXPECT_EQ(WriteFileReplacing(file, Bytes{3}), 0);
    EXPECT_EQ(ReadBytes(file), (Bytes{3}));
    EXPECT_EQ(ModeOf(file), 0640u);

    // Saving through a link replaces the file it names and keeps the link.
    const std::string link = dir.File("link.tgv");
    fs::create_symlink("plant.tgv", link);
    EXPECT_EQ(WriteFileReplacing(link, Bytes{4, 5}), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadBytes(file), (Bytes{4, 5}));

    EXPECT_EQ(WriteFileReplacing(dir.File("sub/x.tgv"), Bytes{1}), ENOENT);
    EXPECT_EQ(CountEntries(dir.Path()), 2u);  // the file and the link, no temporaries
}

TEST(FileIo, AWriteFailingHalfWayLeavesTheOldFile) {
    const TempDir dir;
    const std::string file = dir.File("plant.tgv");
    ASSERT_EQ(WriteFileReplacing(file, Bytes(100, 7)), 0);

    // A file size limit makes the write fail after the new file was created, as a full disk
    // would; the signal it raises is ignored so that the write reports the error.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous {};
    ::sigaction(SIGXFSZ, &ignore, &previous);
    struct rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int error = WriteFileReplacing(file, Bytes(5000, 8));
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(CFileException::FromErrno(error), CFileException::diskFull);
    EXPECT_EQ(ReadBytes(file), Bytes(100, 7));
    EXPECT_EQ(CountEntries(dir.Path()), 1u);
}

TEST(FileIo, ReadOnlyFilesAreNotReplaced) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the superuser";
    }
    const TempDir dir;
    const std::string file = dir.File("plant.tgv");
    WriteBytes(file, {1});
    ::chmod(file.c_str(), 0444);
    EXPECT_TRUE(IsReadOnlyFile(file));
    EXPECT_EQ(WriteFileReplacing(file, Bytes{2}), EACCES);
    EXPECT_EQ(ReadBytes(file), (Bytes{1}));
}

TEST(FileErrors, CausesAndTheirTexts) {
    EXPECT_EQ(CFileException::FromErrno(0), CFileException::none);
    EXPECT_EQ(CFileException::FromErrno(ENOENT), CFileException::fileNotFound);
    EXPECT_EQ(CFileException::FromErrno(ENOTDIR), CFileException::badPath);
    EXPECT_EQ(CFileException::FromErrno(EISDIR), CFileException::accessDenied);
    EXPECT_EQ(CFileException::FromErrno(EROFS), CFileException::accessDenied);
    EXPECT_EQ(CFileException::FromErrno(EDQUOT), CFileException::diskFull);
    EXPECT_EQ(CFileException::FromErrno(EMFILE), CFileException::tooManyOpenFiles);
    EXPECT_EQ(CFileException::FromErrno(EBUSY), CFileException::generic);

    // The path is put in as it is, even where it looks like a format.
    const std::string path = "/tmp/100%1 %s.tgv";
    EXPECT_EQ(FileErrorMessage(CFileException::fileNotFound, path, FileAccess::read),
              path + " was not found.");
    EXPECT_EQ(FileErrorMessage(CFileException::badPath, path, FileAccess::read),
              path + " contains an invalid path.");
    EXPECT_EQ(FileErrorMessage(CFileException::generic, path, FileAccess::read),
              "An unexpected error occurred while reading " + path + ".");
    EXPECT_EQ(FileErrorMessage(CFileException::tooManyOpenFiles, path, FileAccess::write),
              path + " could not be opened because there are too many open files.");
}
