#include "config_file.h"

#include <ini.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <tuple>

#include "support/test_support.h"

namespace {

using qbtest::capture_stdout;
using qbtest::count_of;
using qbtest::mut;

std::string str(const char* s) { return s ? s : "<null>"; }

class ConfigTest : public testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(Config_Close(h), 0); }
    // Loads text and returns what was logged meanwhile.
    std::string load(const std::string& text) {
        return capture_stdout([&] { EXPECT_EQ(Config_Buffer_Load(h, mut(text.c_str())), 0); });
    }
    std::string written() {
        std::string buf(1 << 16, '\0');
        EXPECT_EQ(Config_Buffer_Write_N(h, buf.data(), static_cast<int>(buf.size())), 0);
        return buf.c_str();
    }
    int add(const char* s, const char* k, const char* v) { return Config_Add(h, mut(s), mut(k), mut(v)); }
    void* h = Config_Init();
};

// Debian builds inih with its options as run-time variables; the store relies on their defaults.
TEST(InihOptions, DefaultsTheStoreReliesOn) {
    EXPECT_TRUE(ini_max_line == 200 && ini_allow_multiline && ini_allow_bom && ini_allow_inline_comments);
    EXPECT_FALSE(ini_stop_on_first_error || ini_allow_no_value);
    EXPECT_EQ(std::string(ini_start_comment_prefixes) + " " + ini_inline_comment_prefixes, ";# ;");
}

// Each load must replace what the row before left behind.
TEST_F(ConfigTest, LoadedTextIsStoredAsTheParserReadsIt) {
    const std::string v197(197, 'v'), w49(49, 'w'), n60(60, 'n');
    const struct { std::string text, stored, refused; } rows[] = {
        {"[a]\nx=1\nx=2\n", "[a]\nx=1\n", "Config a:x already exists\n"},
        {"[s]\na=1\n  b=2\n", "[s]\na=1\n", "Config s:a already exists\n"},  // continues a
        {"]]]\n=\n:\n", "[]\n", "Config : already exists\n"},  // empty names, not written
        {"k=v\n[bad\nk\x01=\xff\xfe\n[a]\nx=1\n[b]\ny=2\n[a]\nz=3\n",
         "[]\nk=v\nk\x01=\xff\xfe\n[a]\nx=1\nz=3\n[b]\ny=2\n", ""},  // a bad header changes nothing
        {"[s]\nk=" + v197 + "x=" + w49 + "\n", "[s]\nk=" + v197 + "\nx=" + w49 + "\n", ""},  // 199-char pieces
        {"[s]\n" + std::string(1000, 'k') + "=" + std::string(1000, 'v'), "[s]\nkkkkk=" + v197.substr(4) + "\n", ""},
        {"[" + n60 + "]\nk=v\n", "[" + n60.substr(0, 49) + "]\nk=v\n", ""},
        {"\xEF\xBB\xBF[s]\nplain = spaced value  \ncolon: value\ninline=v ;comment\nglued=v;kept\n# hash=1\n; semi=1\n"
         "   ; indented=1\n   \nnot a key line\nafter=error\ncr=v\r\n",
         "[s]\nplain=spaced value\ncolon=value\ninline=v\nglued=v;kept\nafter=error\ncr=v\n", ""},
        {"\n\n\r\n\r" + std::string(5000, '[') + "\n\xEF\xBB\n[only]\n", "", ""},
    };
    for (const auto& row : rows) {
        std::string log = load(row.text);
        EXPECT_EQ(written(), row.stored) << row.text;
        EXPECT_EQ(count_of(log, "already exists"), row.refused.empty() ? 0 : 1) << row.text;
        EXPECT_EQ(count_of(log, row.refused), row.refused.empty() ? 0 : 1) << row.text;
    }
    EXPECT_EQ(Config_Section_Exists(h, mut("only")), 0);
}

TEST_F(ConfigTest, AddUpdateAndGetRules) {
    load("[old]\nk=v\n");
    for (const char* section : {"old", "new"}) ASSERT_EQ(add(section, "null", nullptr), 0);
    char sentinel[] = "sentinel", *v = sentinel;
    std::string log = capture_stdout([&] {
        EXPECT_EQ(add("old", "k", "other"), -1);
        EXPECT_EQ(Config_Update(h, mut("old"), mut("missing"), mut("x")), -1);
        EXPECT_EQ(Config_Update(h, mut("none"), mut("k"), mut("x")), -1);
        EXPECT_EQ(Config_Add_Section(h, mut("old")), -1);
        EXPECT_EQ(Config_Get(h, mut("old"), mut("missing"), &v), -1);
    });
    for (auto [line, n] : {std::pair{"Config old:k already exists\n", 1}, {"Update Entry fail not found\n", 2},
                           {"Section old Exists\n", 1}, {"Read entry old:missing fail not found\n", 1}})
        EXPECT_EQ(count_of(log, line), n) << line;
    EXPECT_EQ(v, sentinel);
    EXPECT_EQ(written(), "[old]\nk=v\nnull=__undefined\n[new]\nnull=\n");  // nothing created or changed
    EXPECT_EQ(Config_Update(h, mut("old"), mut("k"), mut("w")), 0);
    EXPECT_STREQ(Config_Get_Ptr(h, mut("old"), mut("k")), "w");
}

// The four-line example plus an entry with an empty key, which dumps show and writes omit.
TEST_F(ConfigTest, WritesAndDumpsRenderTheStore) {
    load("[a]\nk=v\ne=\n");
    ASSERT_EQ(add("a", "", "hidden") + Config_Add_Section(h, mut("b")), 0);
    const std::string text = "[a]\nk=v\ne=\n[b]\n";  // 15 bytes
    char buf[48] = "xy\0zzzzzzzzzzzzzzzzzzzz", full[4] = {'a', 'b', 'c', 'd'};
    // The string already there counts and the NUL needs room; with no NUL inside size nothing is touched.
    std::string log = capture_stdout([&] {
        for (auto [p, n] : {std::pair{buf, 17}, {buf, 0}, {full, 4}}) EXPECT_EQ(Config_Buffer_Write_N(h, p, n), -1);
    });
    EXPECT_EQ(count_of(log, "Config buffer too small"), 3);
    EXPECT_EQ(std::string(buf, 4), std::string("xy\0z", 4));
    ASSERT_EQ(Config_Buffer_Write_N(h, buf, 18), 0);
    EXPECT_EQ(std::string(buf, 19), "xy" + text + '\0' + 'z');
    ASSERT_EQ(Config_Buffer_Write(h, buf), 0);
    EXPECT_EQ(std::string(buf), "xy" + text + text);
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(Config_Dump(h), 0); }),
              "---------------------->\n[a]\nk=v\ne=\n=hidden\n[b]\n<----------------------\n");
    char *sections = nullptr, *entries = nullptr, *none = nullptr;
    ASSERT_EQ(Config_Dump_Section_Json(h, &sections) + Config_Dump_Entry_Json(h, mut("a"), &entries), 0);
    ASSERT_EQ(Config_Dump_Entry_Json(h, mut("absent"), &none), 0);
    EXPECT_STREQ(sections, R"([ "a", "b" ])");
    EXPECT_STREQ(entries,
                 R"([ { "key": "k", "val": "v" }, { "key": "e", "val": "" }, { "key": "", "val": "hidden" } ])");
    EXPECT_STREQ(none, "[ ]");
    for (char* json : {sections, entries, none}) free(json);
}

TEST_F(ConfigTest, IndexLookupsAndDeletes) {
    load("[a]\nk=1\nl=2\n[b]\nc=3\n[c]\nd=4\n");
    char *a = mut("a"), *b = mut("b"), *c = mut("c");
    std::string sections, items;
    for (int i = -1; i <= 3; ++i) sections += str(Config_Section_Get_At(h, i)) + ",";
    for (int i = -1; i <= 2; ++i) items += str(Config_Item_Get_Key_At(h, a, i)) + str(Config_Item_Get_Val_At(h, a, i));
    EXPECT_EQ(sections, "<null>,a,b,c,<null>,");
    EXPECT_EQ(items, "<null><null>k1l2<null><null>");
    EXPECT_EQ(std::pair(Config_Item_Get_Count(h, a), Config_Item_Get_Count(h, mut("absent"))), std::pair(2, 0));

    ASSERT_EQ(Config_Delete_Entry(h, b, c) + Config_Delete_Section(h, c), 0);
    EXPECT_EQ(written(), "[a]\nk=1\nl=2\n[b]\n");  // the emptied section stays
    auto log = capture_stdout([&] { EXPECT_EQ(Config_Delete_Entry(h, b, c) + Config_Delete_Section(h, c), -2); });
    EXPECT_EQ(count_of(log, "Delete Entry not found\n") + count_of(log, "Delete Section not found\n"), 2);
    EXPECT_EQ(Config_Delete_All(h), 0);
    EXPECT_EQ(Config_Section_Get_Count(h), 0);
}

// Root could open a read-only file anyway, so the failures run as nobody (the file-system ids are per thread).
// A write never succeeds where opening the file itself for writing would fail (a read-only file in a writable
// directory), and keeps owner, group and mode: a group-shared file and someone else's writable file in a sticky
// directory are written in place, where a replace would give the file away or be refused.
TEST_F(ConfigTest, FileLoadStopsAtNulAndFailedOpensIncludingReadOnlyChangeNothing) {
    qbtest::TempDir dir;
    const std::string in = dir.file("c.ini"), text = "[net]\nhost=example\nport=80\n[x]\ny=1\n";
    const std::string ro = dir.file("open/ro.ini"), shared = dir.file("shared/g.ini"), sticky = dir.file("t/s.ini");
    qbtest::write_file(in, std::string("; header\n[net]\nhost = example\nport: 80\n[x]\ny=1") + '\0' + "[z]\nw=2\n");
    ASSERT_EQ(Config_File_Load(h, mut(in.c_str())), 0);
    EXPECT_EQ(written(), text);
    const bool root = geteuid() == 0;
    for (const auto& [file, dir_mode, mode, gid] : {std::tuple{ro, 0777, 0444, -1}, {shared, 0775, 0664, 65534},
                                                     {sticky, 01777, 0666, 0}}) {
        const std::string d = std::filesystem::path(file).parent_path();
        ASSERT_TRUE(std::filesystem::create_directory(d));
        qbtest::write_file(file, "old");
        ASSERT_EQ(chmod(d.c_str(), dir_mode) + chmod(file.c_str(), mode), 0);
        if (root) {
            ASSERT_EQ(chown(d.c_str(), 0, gid) + chown(file.c_str(), 0, gid), 0);
        }
    }
    ASSERT_EQ(chmod(dir.path().c_str(), 0755) + chmod(in.c_str(), 0444), 0);
    const int old_fsuid = setfsuid(root ? 65534 : geteuid()), old_fsgid = setfsgid(root ? 65534 : getegid());
    if (root && setfsuid(-1) != 65534) GTEST_SKIP() << "cannot drop privileges here";
    for (auto [op, name] : {std::pair{&Config_File_Load, in}, {Config_File_Load, dir.file("missing.ini")},
                            {Config_File_Load, dir.path()}, {Config_File_Write, dir.path()},
                            {Config_File_Write, dir.file("no/such.ini")}, {Config_File_Write, ro}}) {
        std::string log = capture_stdout([&] { EXPECT_EQ(op(h, mut(name.c_str())), -1) << name; });
        EXPECT_EQ(count_of(log, "Config file Open failed: " + name + "\n"), 1) << name;
    }
    const int shared_rc = root ? Config_File_Write(h, mut(shared.c_str())) : 0;
    const int sticky_rc = root ? Config_File_Write(h, mut(sticky.c_str())) : 0;
    setfsuid(old_fsuid);
    setfsgid(old_fsgid);
    EXPECT_EQ(written(), text);
    EXPECT_EQ(qbtest::read_file(ro), "old");
    if (!root) return;
    EXPECT_EQ(std::pair(shared_rc, sticky_rc), std::pair(0, 0));
    for (const auto& [file, gid, mode] : {std::tuple{shared, 65534u, 0664u}, {sticky, 0u, 0666u}}) {
        struct stat st;
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(std::tuple(st.st_uid, st.st_gid, st.st_mode & 07777), std::tuple(0u, gid, mode)) << file;
        EXPECT_EQ(qbtest::read_file(file), text) << file;
    }
}

// A file-size limit makes the write fail part-way on an ordinary file system, even for root.
// The writes go through a symlink, which must stay one, and the file keeps its mode.
TEST_F(ConfigTest, FailedWriteIsReportedAndKeepsTheOldFile) {
    qbtest::TempDir dir;
    const std::string real = dir.file("real.ini"), link = dir.file("link.ini");
    qbtest::write_file(real, "[old]\nx=1\n");
    ASSERT_EQ(chmod(real.c_str(), 0640) + symlink(real.c_str(), link.c_str()), 0);
    load("[a]\nk=v\ne=\n");
    ASSERT_EQ(add("b", "big", std::string(4096, 'b').c_str()), 0);
    rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    const rlimit small{1000, old_limit.rlim_max};  // the captured output stays far below it
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    std::string log = capture_stdout([&] {
        EXPECT_EQ(Config_File_Write(h, mut("/dev/full")), -1);
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &small) == 0 ? Config_File_Write(h, mut(link.c_str())) : 0, -1);
        setrlimit(RLIMIT_FSIZE, &old_limit);
    });
    signal(SIGXFSZ, old_handler);
    EXPECT_EQ(count_of(log, "Config file write failed: /dev/full\n"), 1);
    EXPECT_EQ(count_of(log, "Config file write failed: " + link + "\n"), 1);
    EXPECT_EQ(qbtest::read_file(real), "[old]\nx=1\n");
    // No temp file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 2);

    // Emptied, b stays: this is the four-line example.
    ASSERT_EQ(Config_Delete_Entry(h, mut("b"), mut("big")), 0);
    ASSERT_EQ(Config_File_Write(h, mut(link.c_str())), 0);
    EXPECT_EQ(qbtest::read_file(real), "[a]\nk=v\ne=\n[b]\n");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::status(real).permissions(), std::filesystem::perms(0640));
}

// Null names used to crash in strlen.
TEST_F(ConfigTest, NullHandleAndNullArgumentsAreRefused) {
    load("[a]\nk=v\n");
    void* z = nullptr;
    char buf[8] = "", *v = nullptr, *json = nullptr, *a = mut("a"), *k = mut("k"), *n = nullptr;
    std::string log = capture_stdout([&] {
        const int refused[] = {  // 18 with a null handle, then 16 with a null argument
            Config_Close(z), Config_Delete_All(z), Config_Buffer_Load(z, a), Config_File_Load(z, a),
            Config_Buffer_Write(z, buf), Config_Buffer_Write_N(z, buf, 8), Config_File_Write(z, a),
            Config_Get(z, a, k, &v), Config_Add_Section(z, a), Config_Add(z, a, k, k), Config_Update(z, a, k, k),
            Config_Delete_Section(z, a), Config_Delete_Entry(z, a, k), Config_Get_Count(z, a),
            Config_Item_Get_Count(z, a), Config_Dump(z), Config_Dump_Section_Json(z, &json),
            Config_Dump_Entry_Json(z, a, &json), Config_Add(h, n, k, k), Config_Add(h, a, n, k),
            Config_Update(h, a, k, n), Config_Update(h, n, k, k), Config_Get(h, a, n, &v), Config_Get(h, a, k, nullptr),
            Config_Add_Section(h, n), Config_Delete_Section(h, n), Config_Delete_Entry(h, a, n), Config_Get_Count(h, n),
            Config_Buffer_Load(h, n), Config_File_Load(h, n), Config_File_Write(h, n), Config_Buffer_Write(h, n),
            Config_Dump_Entry_Json(h, n, &v), Config_Dump_Section_Json(h, nullptr)};
        for (size_t i = 0; i < std::size(refused); ++i) EXPECT_EQ(refused[i], -1) << i;
        for (int rc : {Config_Section_Exists(z, a), Config_Exists(z, a, k), Config_Section_Get_Count(z),
                       Config_Exists(h, a, n), Config_Section_Exists(h, n)})
            EXPECT_EQ(rc, 0);
        for (char* p : {Config_Get_Ptr(z, a, k), Config_Section_Get_At(z, 0), Config_Item_Get_Key_At(z, a, 0),
                        Config_Item_Get_Val_At(z, a, 0), Config_Get_Ptr(h, n, k), Config_Item_Get_Key_At(h, n, 0)})
            EXPECT_EQ(p, nullptr);
    });
    EXPECT_EQ(count_of(log, "Config file handle error\n"), 25);
    EXPECT_EQ(count_of(log, ": null argument\n"), 20);
    EXPECT_EQ(written(), "[a]\nk=v\n");  // nothing changed, nothing lost
}

TEST_F(ConfigTest, ConcurrentAddsOfTheSameKeysStoreEachOnce) {
    std::atomic<int> added{0};
    auto worker = [&] { for (int i = 0; i < 500; ++i) added += add("s", std::to_string(i).c_str(), "v") == 0; };
    capture_stdout([&] { std::jthread a(worker), b(worker), c(worker); });
    EXPECT_EQ(added.load(), 500);
    EXPECT_EQ(std::pair(Config_Section_Get_Count(h), Config_Get_Count(h, mut("s"))), std::pair(1, 500));
}

}  // namespace
