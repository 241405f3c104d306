#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "sdk_file_ops.h"
#include "support/test_support.h"

using namespace qbtest;

namespace {

constexpr auto npos = std::string::npos;

// Error lines pass the logger's default threshold, so no level is set here.
class FileOps : public ::testing::Test {
protected:
    TempDir dir_;
    std::string missing_ = dir_.file("missing"), src_ = dir_.file("src"), dst_ = dir_.file("dst");
    char* src = mut(src_.c_str());
    char* dst = mut(dst_.c_str());
    char* buf = mut("untouched");
    int size = 77;
};

TEST_F(FileOps, MissingFilesFailAndAreLogged) {
    char* m = mut(missing_.c_str());
    write_file(dst_, "precious");
    std::string out = capture_stdout([&] {
        EXPECT_EQ(File_Len(m), 0);
        EXPECT_EQ(File_Exists(m), 0);
        EXPECT_EQ(File_Read_Binary(m, &buf, &size), -1);
        EXPECT_EQ(File_Read_String(m), nullptr);
        EXPECT_EQ(File_Delete(m), -1);
        EXPECT_EQ(File_Replace_String(m, src, mut("a"), mut("b")), -1);
        // Both ends are opened before the check, so the destination is still truncated or created.
        EXPECT_EQ(File_Copy(m, dst), -1);
        EXPECT_EQ(File_Copy(m, src), -1);
    });
    for (const char* line : {"[File_Len]Unable to open file ", "[File_Read_Binary]Unable to open file ",
                             "[File_Read_String]Unable to open file ", "[File_Delete]Unable to delete the file ",
                             "[File_Replace_String]File "})
        EXPECT_NE(out.find(line + missing_), npos) << line << " in:\n" << out;
    EXPECT_EQ(count_of(out, "\n"), 5) << out;  // File_Copy and File_Exists log nothing
    EXPECT_TRUE(std::string(buf) == "untouched" && size == 77);
    EXPECT_TRUE(std::filesystem::exists(src_) && std::filesystem::file_size(dst_) == 0);
}

TEST_F(FileOps, ReadHelpersReturnWholeRegularFilesWithAZeroSpareByte) {
    // A directory opens for reading but must not be read as a file.
    EXPECT_EQ(File_Exists(dir_.path().c_str()), 1);
    EXPECT_EQ(File_Read_Binary(mut(dir_.path().c_str()), &buf, &size), -1);
    EXPECT_EQ(File_Read_String(mut(dir_.path().c_str())), nullptr);
    for (const std::string& text : {std::string(), std::string("\x01\x00\xff\x7f" "data", 8), std::string(16, 'a'),
                                    std::string(4095, 'a')}) {
        free(memset(malloc(text.size() + 1), 'Z', text.size() + 1));  // dirty the block malloc hands out next
        write_file(src_, text);
        EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(File_Len(src), static_cast<int>(text.size())); }), "");
        ASSERT_EQ(File_Read_Binary(src, &buf, &size), 0);
        EXPECT_EQ(std::string(buf, size + 1), text + '\0');
        free(buf);
        char* str = File_Read_String(src);
        EXPECT_TRUE(str && std::string(str, text.size() + 1) == text + '\0') << text.size();
        free(str);
    }
}

TEST_F(FileOps, MkdirCreatesOnlyTheDirectoriesBeforeTheLastSlashAndDeleteRemovesEmptyOnes) {
    ScopedChdir cd(dir_.path());
    EXPECT_EQ(capture_stdout([] { EXPECT_EQ(File_Mkdir(mut("plain.txt"), 0755), 0); }), "");
    EXPECT_TRUE(std::filesystem::is_empty("."));
    // Quiet both times: existing levels are no error, and an absolute path's empty first prefix is skipped.
    std::string abs = dir_.file("data/x/y.bin");
    for (int i = 0; i < 2; ++i) EXPECT_EQ(capture_stdout([&] { File_Mkdir(mut(abs.c_str()), 0700); }), "");
    EXPECT_EQ(File_Mkdir(mut("t/u/"), 0755), 0);
    EXPECT_TRUE(std::filesystem::is_directory("t/u") && !std::filesystem::exists(abs));
    EXPECT_EQ(std::filesystem::status("data/x").permissions(), std::filesystem::perms::owner_all);
    EXPECT_TRUE(File_Delete(mut("t/u")) == 0 && !std::filesystem::exists("t/u"));
    write_file("blocker", "a file where a directory should be");
    std::string out = capture_stdout([] { EXPECT_EQ(File_Mkdir(mut("blocker/sub/f"), 0755), 0); });
    EXPECT_NE(out.find("[rek_mkdir]error while trying to create 'blocker/sub'\nNot a directory\n\n"), npos) << out;
}

TEST_F(FileOps, WritersCreateTruncateAppendCopyAndReplace) {
    EXPECT_EQ(File_Append_String(dst, mut("one,")), 4);
    EXPECT_EQ(File_Append_String(dst, mut("two")), 3);
    EXPECT_EQ(read_file(dst_), "one,two");
    EXPECT_EQ(File_Write(dst, mut("new"), 3), 3);
    EXPECT_EQ(read_file(dst_), "new");
    // More than one copy block, each block different.
    const std::string content = std::string(10240, 'a') + std::string(10240, '\0') + std::string(9000, 'c') + "end";
    write_file(src_, content);
    EXPECT_EQ(File_Copy(src, dst), 0);
    EXPECT_EQ(read_file(dst_), content);
    write_file(src_, "host=HOST port=1 HOST");
    EXPECT_EQ(File_Replace_String(src, dst, mut("HOST"), mut("localhost")), 0);
    EXPECT_EQ(read_file(dst_), "host=localhost port=1 localhost");
    EXPECT_EQ(File_Replace_String(src, src, mut("HOST"), nullptr), 0);  // a null replacement deletes
    EXPECT_EQ(read_file(src_), "host= port=1 ");
}

// Large writes go into space reserved first: the size stays exact over a
// longer old file, nothing stays reserved past the end, and devices take them.
TEST_F(FileOps, LargeWritesKeepExactSizesAndWorkIntoDevices) {
    const std::string big = std::string(size_t{3} << 20, 'x') + "tail";
    const int n = static_cast<int>(big.size());
    write_file(dst_, std::string(size_t{5} << 20, 'o'));
    ASSERT_EQ(File_Write(dst, mut(big.c_str()), n), n);
    EXPECT_EQ(read_file(dst_), big);
    struct stat st;
    ASSERT_EQ(stat(dst, &st), 0);
    EXPECT_LT(static_cast<size_t>(st.st_blocks) * 512, big.size() + (size_t{64} << 10));
    EXPECT_EQ(File_Write(mut("/dev/null"), mut(big.c_str()), n), n);  // no space to reserve there
}

// Copies go through the kernel where they can, and through slower ways across
// file systems or from files that report no size; each must keep every byte.
TEST_F(FileOps, CopyKeepsEveryByteOnEachWay) {
    std::string content((size_t{3} << 20) + 77, '\0');
    std::mt19937 rng(3);
    for (char& c : content) c = static_cast<char>(rng());
    write_file(src_, content);
    write_file(dst_, std::string(size_t{5} << 20, 'x'));  // longer: truncated
    EXPECT_EQ(File_Copy(src, dst), 0);
    EXPECT_TRUE(read_file(dst_) == content);
    if (std::filesystem::is_directory("/dev/shm")) {  // tmpfs on one side
        const std::string shm = "/dev/shm/qb_copy_" + std::to_string(getpid());
        EXPECT_EQ(File_Copy(src, mut(shm.c_str())), 0);
        EXPECT_EQ(File_Copy(mut(shm.c_str()), dst), 0);
        std::filesystem::remove(shm);
        EXPECT_TRUE(read_file(dst_) == content);
    }
    EXPECT_EQ(File_Copy(mut("/proc/self/status"), dst), 0);
    EXPECT_EQ(read_file(dst_).rfind("Name:", 0), 0u);
    EXPECT_EQ(File_Copy(mut(dir_.path().c_str()), dst), -1);  // a directory has no bytes to copy
}

TEST_F(FileOps, WritersReportOpenWriteAndCloseErrors) {
    std::string bad = missing_ + "/f";
    std::string out = capture_stdout([&] { EXPECT_EQ(File_Write(mut(bad.c_str()), dst, 1), -1); });
    EXPECT_NE(out.find("[File_Write]file " + bad + " couldn't be opened, errno=2\n"), npos) << out;
    // Plain standard output, not the logger.
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(File_Append_String(mut(bad.c_str()), dst), -1); }),
              "[File_Append_String]file " + bad + " couldn't be opened\n");
    write_file(src_, "abc");
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(File_Replace_String(src, dst, mut(""), mut("b")), -1); }), "");
    EXPECT_EQ(File_Replace_String(src, dst, nullptr, mut("b")), -1);
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    // Small enough to sit in the stdio buffer, so the error shows only at close.
    EXPECT_EQ(File_Copy(src, mut("/dev/full")), -1);
    EXPECT_EQ(File_Write(mut("/dev/full"), mut("abc"), 3), -1);
    EXPECT_EQ(File_Append_String(mut("/dev/full"), mut("abc")), -1);
}

}  // namespace
