#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "sdk_file_ops.h"
#include "sdk_logger.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

template <typename F>
std::string captured(F&& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

bool has_dev_full() { return fs::exists("/dev/full"); }

class FileOps : public ::testing::Test {
protected:
    void SetUp() override { sdk_set_log_level(SDK_LOG_LEVEL_DEBUG); }
    qbtest::TempDir dir;
    std::string path(const char* name) { return dir.file(name); }
};

TEST_F(FileOps, LenLogsOnlyWhenTheFileCannotBeOpened) {
    std::string missing = path("missing");
    int len = -1;
    std::string out = captured([&] { len = File_Len(missing.data()); });
    EXPECT_EQ(len, 0);
    EXPECT_NE(out.find("[file_ops]"), std::string::npos);
    EXPECT_NE(out.find("[File_Len]Unable to open file " + missing), std::string::npos) << out;

    std::string empty = path("empty");
    qbtest::write_file(empty, "");
    out = captured([&] { len = File_Len(empty.data()); });
    EXPECT_EQ(len, 0);
    EXPECT_EQ(out, "");

    std::string five = path("five");
    qbtest::write_file(five, std::string("ab\0cd", 5));
    EXPECT_EQ(File_Len(five.data()), 5);
}

TEST_F(FileOps, ExistsCountsDirectoriesAndNotMissingFiles) {
    std::string file = path("f");
    qbtest::write_file(file, "x");
    EXPECT_EQ(File_Exists(file.c_str()), 1);
    EXPECT_EQ(File_Exists(dir.path().c_str()), 1);
    EXPECT_EQ(File_Exists(path("missing").c_str()), 0);
}

TEST_F(FileOps, ReadBinaryReturnsBytesAndAZeroSpareByte) {
    std::string file = path("bin");
    const std::string content("\x01\x00\xff\x7f" "data", 8);
    qbtest::write_file(file, content);
    char* buf = nullptr;
    int size = -1;
    ASSERT_EQ(File_Read_Binary(file.data(), &buf, &size), 0);
    ASSERT_EQ(size, 8);
    EXPECT_EQ(std::string(buf, size), content);
    EXPECT_EQ(buf[size], '\0');
    free(buf);

    // The spare byte must be zero even for sizes where malloc hands out reused, dirty memory.
    for (int n : {1, 15, 16, 31, 4095}) {
        char* junk = static_cast<char*>(malloc(n + 1));
        memset(junk, 'Z', n + 1);
        free(junk);
        qbtest::write_file(file, std::string(n, 'a'));
        ASSERT_EQ(File_Read_Binary(file.data(), &buf, &size), 0);
        EXPECT_EQ(buf[n], '\0') << n;
        free(buf);
    }
}

TEST_F(FileOps, ReadBinaryFailsOnMissingFilesAndDirectories) {
    std::string missing = path("missing");
    char* buf = reinterpret_cast<char*>(0x1);
    int size = 77;
    std::string out = captured([&] { EXPECT_EQ(File_Read_Binary(missing.data(), &buf, &size), -1); });
    EXPECT_NE(out.find("[File_Read_Binary]Unable to open file " + missing), std::string::npos) << out;

    std::string d = dir.path();
    out = captured([&] { EXPECT_EQ(File_Read_Binary(d.data(), &buf, &size), -1); });
    EXPECT_NE(out.find("[File_Read_Binary]"), std::string::npos);
    EXPECT_EQ(buf, reinterpret_cast<char*>(0x1));  // untouched on failure
    EXPECT_EQ(size, 77);
}

TEST_F(FileOps, ReadStringHandlesEmptyFilesAndRefusesDirectories) {
    std::string empty = path("empty");
    qbtest::write_file(empty, "");
    char* text = File_Read_String(empty.data());
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "");
    free(text);

    std::string file = path("text");
    qbtest::write_file(file, "{\"url\":\"x\"}\n");
    text = File_Read_String(file.data());
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "{\"url\":\"x\"}\n");
    free(text);

    std::string d = dir.path();
    std::string out = captured([&] { EXPECT_EQ(File_Read_String(d.data()), nullptr); });
    EXPECT_NE(out.find("[File_Read_String]"), std::string::npos);
    std::string missing = path("missing");
    out = captured([&] { EXPECT_EQ(File_Read_String(missing.data()), nullptr); });
    EXPECT_NE(out.find("[File_Read_String]Unable to open file " + missing), std::string::npos);
}

TEST_F(FileOps, WriteCreatesTruncatesAndReportsOpenErrors) {
    std::string file = path("w");
    qbtest::write_file(file, "a much longer old content");
    char data[] = "new";
    EXPECT_EQ(File_Write(file.data(), data, 3), 3);
    EXPECT_EQ(qbtest::read_file(file), "new");
    EXPECT_EQ(File_Write(file.data(), data, 0), 0);
    EXPECT_EQ(qbtest::read_file(file), "");

    std::string bad = path("no/such/dir/file");
    std::string out = captured([&] { EXPECT_EQ(File_Write(bad.data(), data, 3), -1); });
    EXPECT_NE(out.find("[File_Write]file " + bad + " couldn't be opened, errno=2"), std::string::npos) << out;
}

TEST_F(FileOps, WriteAndAppendReportErrorsThatShowAtClose) {
    if (!has_dev_full()) GTEST_SKIP() << "no /dev/full";
    char full[] = "/dev/full";
    char data[] = "small enough to sit in the stdio buffer";
    std::string out = captured([&] {
        EXPECT_EQ(File_Write(full, data, static_cast<int>(strlen(data))), -1);
        EXPECT_EQ(File_Append_String(full, data), -1);
    });
    EXPECT_NE(out.find("[File_Write]"), std::string::npos);
    EXPECT_NE(out.find("[File_Append_String]"), std::string::npos);
}

TEST_F(FileOps, AppendAddsTextAndAnnouncesOpenFailureOnStdout) {
    std::string file = path("a");
    char one[] = "one,";
    char two[] = "two";
    EXPECT_EQ(File_Append_String(file.data(), one), 4);
    EXPECT_EQ(File_Append_String(file.data(), two), 3);
    EXPECT_EQ(qbtest::read_file(file), "one,two");

    std::string bad = path("no/dir/a");
    std::string out = captured([&] { EXPECT_EQ(File_Append_String(bad.data(), one), -1); });
    // Plain standard output, not a logger line.
    EXPECT_EQ(out, "[File_Append_String]file " + bad + " couldn't be opened\n");
}

TEST_F(FileOps, CopyDuplicatesFilesLargerThanOneBlock) {
    std::string src = path("src");
    std::string dst = path("dst");
    std::string content;
    for (int i = 0; i < 30000; ++i) content.push_back(static_cast<char>(i * 7 + i / 256));
    qbtest::write_file(src, content);
    qbtest::write_file(dst, "old");
    EXPECT_EQ(File_Copy(src.data(), dst.data()), 0);
    EXPECT_EQ(qbtest::read_file(dst), content);
}

TEST_F(FileOps, CopyWithMissingSourceStillTruncatesOrCreatesDest) {
    std::string missing = path("missing");
    std::string dst = path("dst");
    qbtest::write_file(dst, "precious");
    EXPECT_EQ(File_Copy(missing.data(), dst.data()), -1);
    ASSERT_TRUE(fs::exists(dst));
    EXPECT_EQ(fs::file_size(dst), 0u);

    std::string fresh = path("fresh");
    EXPECT_EQ(File_Copy(missing.data(), fresh.data()), -1);
    EXPECT_TRUE(fs::exists(fresh));
}

TEST_F(FileOps, CopyReportsWriteErrors) {
    if (!has_dev_full()) GTEST_SKIP() << "no /dev/full";
    std::string src = path("src");
    qbtest::write_file(src, std::string(20000, 'q'));
    char full[] = "/dev/full";
    std::string out = captured([&] { EXPECT_EQ(File_Copy(src.data(), full), -1); });
    EXPECT_NE(out.find("[File_Copy]"), std::string::npos);
}

TEST_F(FileOps, DeleteRemovesFilesAndEmptyDirectoriesAndLogsMisses) {
    std::string file = path("f");
    qbtest::write_file(file, "x");
    EXPECT_EQ(File_Delete(file.data()), 0);
    EXPECT_FALSE(fs::exists(file));

    std::string sub = path("sub");
    fs::create_directory(sub);
    EXPECT_EQ(File_Delete(sub.data()), 0);
    EXPECT_FALSE(fs::exists(sub));

    std::string out = captured([&] { EXPECT_EQ(File_Delete(file.data()), -1); });
    EXPECT_NE(out.find("[File_Delete]Unable to delete the file " + file + "\n"), std::string::npos) << out;
}

TEST_F(FileOps, MkdirCreatesTheDirectoriesBeforeTheLastSlash) {
    qbtest::ScopedChdir cd(dir.path());
    char rel[] = "data/x/y.bin";
    EXPECT_EQ(File_Mkdir(rel, 0755), 0);
    EXPECT_TRUE(fs::is_directory("data"));
    EXPECT_TRUE(fs::is_directory("data/x"));
    EXPECT_FALSE(fs::exists("data/x/y.bin"));
    EXPECT_EQ(File_Mkdir(rel, 0755), 0);  // existing levels are not an error

    char trailing[] = "t/u/";
    EXPECT_EQ(File_Mkdir(trailing, 0755), 0);
    EXPECT_TRUE(fs::is_directory("t/u"));

    std::string abs = dir.file("abs/b/c.txt");
    EXPECT_EQ(File_Mkdir(abs.data(), 0700), 0);
    EXPECT_TRUE(fs::is_directory(dir.file("abs/b")));
    EXPECT_FALSE(fs::exists(abs));
    EXPECT_EQ(fs::status(dir.file("abs/b")).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(FileOps, MkdirOfABareNameCreatesNothing) {
    qbtest::ScopedChdir cd(dir.path());
    char bare[] = "plain.txt";
    std::string out = captured([&] { EXPECT_EQ(File_Mkdir(bare, 0755), 0); });
    EXPECT_EQ(out, "");
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST_F(FileOps, MkdirLogsFailuresAndStillReturnsZero) {
    qbtest::ScopedChdir cd(dir.path());
    qbtest::write_file("blocker", "a file where a directory should be");
    char p[] = "blocker/sub/f";
    std::string out = captured([&] { EXPECT_EQ(File_Mkdir(p, 0755), 0); });
    EXPECT_NE(out.find("[rek_mkdir]error while trying to create 'blocker/sub'\nNot a directory\n\n"),
              std::string::npos)
        << out;
}

TEST_F(FileOps, ReplaceStringRewritesEveryOccurrence) {
    std::string src = path("src");
    std::string dst = path("dst");
    qbtest::write_file(src, "host=HOST port=1 HOST");
    char orig[] = "HOST";
    char rep[] = "localhost";
    EXPECT_EQ(File_Replace_String(src.data(), dst.data(), orig, rep), 0);
    EXPECT_EQ(qbtest::read_file(dst), "host=localhost port=1 localhost");
    EXPECT_EQ(qbtest::read_file(src), "host=HOST port=1 HOST");

    // A null replacement deletes; in place (src == dst) works too.
    EXPECT_EQ(File_Replace_String(src.data(), src.data(), orig, nullptr), 0);
    EXPECT_EQ(qbtest::read_file(src), "host= port=1 ");

    char absent[] = "nowhere";
    EXPECT_EQ(File_Replace_String(src.data(), dst.data(), absent, rep), 0);
    EXPECT_EQ(qbtest::read_file(dst), "host= port=1 ");
}

TEST_F(FileOps, ReplaceStringRefusesMissingSourceAndEmptySearch) {
    std::string missing = path("missing");
    std::string dst = path("dst");
    char orig[] = "a";
    char rep[] = "b";
    std::string out = captured([&] { EXPECT_EQ(File_Replace_String(missing.data(), dst.data(), orig, rep), -1); });
    EXPECT_NE(out.find("[File_Replace_String]File " + missing + " does not exist"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dst));

    std::string src = path("src");
    qbtest::write_file(src, "abc");
    char empty[] = "";
    out = captured([&] {
        EXPECT_EQ(File_Replace_String(src.data(), dst.data(), empty, rep), -1);
        EXPECT_EQ(File_Replace_String(src.data(), dst.data(), nullptr, rep), -1);
    });
    EXPECT_EQ(out, "");
    EXPECT_FALSE(fs::exists(dst));
}

}  // namespace
