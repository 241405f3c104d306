#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fake_storage.h"
#include "local_storage.h"
#include "qb_storage.h"
#include "qb_storage_impl.h"
#include "runtime/local_storage_internal.h"
#include "sdk_logger.h"
#include "sdk_md5.h"
#include "support/test_support.h"

using namespace qbtest;
namespace fs = std::filesystem;

namespace {

using CStr = std::unique_ptr<char, decltype(&free)>;
CStr owned(char* s) { return CStr(s, free); }

bool exists(const std::string& p) { return fs::exists(p); }

// Each test runs in a fresh working directory (the stand-alone tree and no
// stray qb_env.ini) with the platform parameters in QB_* variables. The
// configuration tree "/global/configs" is pointed into the temporary root
// through the library's test hook, and the local root is forgotten so each
// test fixes it anew.
class Storage : public ::testing::Test {
protected:
    Storage() {
        qb::local_storage_forget_root();
        qb::local_storage_set_config_root(configs_.c_str());
    }
    ~Storage() override {
        qb::local_storage_forget_root();
        qb::local_storage_set_config_root(nullptr);
    }
    void stand_alone() { mq_type_.reset(); }

    TempDir dir_;
    ScopedChdir cd_{dir_.path()};
    const std::string root_ = dir_.file("root");
    const std::string configs_ = dir_.file("global-configs");
    ScopedEnv param_{"QB_PARAM", nullptr};
    std::unique_ptr<ScopedEnv> mq_type_ = std::make_unique<ScopedEnv>("QB_MQ_TYPE", "redis");
    ScopedEnv storage_type_{"QB_STORAGE_TYPE", "local"};
    ScopedEnv user_{"QB_USER_ID", "u"};
    ScopedEnv app_{"QB_APP_ID", "a"};
    ScopedEnv node_{"QB_NODE_ID", "n"};
    ScopedEnv temp_{"QB_STORAGE_LOCAL_TEMP_STORE", root_.c_str()};
    LogLevel level_{SDK_LOG_LEVEL_DEBUG};
};

struct LocalHandle {
    LS_Handle h = ls_init();
    ~LocalHandle() {
        if (h) ls_deinit(h);
    }
};

// --- front end -------------------------------------------------------------

TEST_F(Storage, StandAloneUsesTheWorkingDirectoryTree) {
    stand_alone();
    QB_Storage s = nullptr;
    std::string out = capture_stdout([&] { s = qb_storage_init(); });
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(static_cast<qb_storage*>(s)->type, QB_STORAGE_FAKE);
    EXPECT_EQ(static_cast<qb_storage*>(s)->handle, nullptr);
    EXPECT_NE(out.find("not in quorbit environment, using baremental storage type\n"), std::string::npos);

    // Configuration c.json of port in1: saved, loaded, deleted twice.
    char text[] = "{\"k\":1}";
    EXPECT_EQ(qb_config_save(s, mut("in1"), mut("c.json"), text, 7), 7);
    EXPECT_EQ(read_file("configs/in1/c.json"), text);
    char* buf = nullptr;
    int size = 0;
    ASSERT_EQ(qb_config_load(s, mut("in1"), mut("c.json"), &buf, &size), 0);
    EXPECT_STREQ(buf, text);
    EXPECT_EQ(size, 7);
    free(buf);
    EXPECT_EQ(qb_config_delete(s, mut("in1"), mut("c.json")), 0);
    EXPECT_EQ(qb_config_delete(s, mut("in1"), mut("c.json")), -1);
    EXPECT_EQ(qb_config_load(s, mut("in1"), mut("c.json"), &buf, &size), -1);
    EXPECT_EQ(qb_config_save(s, nullptr, mut("top.ini"), mut("x=1"), 3), 3);
    EXPECT_EQ(read_file("configs/top.ini"), "x=1");

    // Temporary files, with and without a port; binary content survives.
    const std::string bin("a\0b\xff", 4);
    auto url = owned(qb_tmp_file_save(s, mut("r1"), mut("out1"), mut("x.bin"), mut(bin.data()), 4));
    ASSERT_TRUE(url);
    EXPECT_STREQ(url.get(), "studio/r1/out1");
    EXPECT_EQ(read_file("studio/r1/out1/x.bin"), bin);
    ASSERT_EQ(qb_tmp_file_load(s, url.get(), mut("x.bin"), &buf, &size), 0);
    EXPECT_EQ(std::string(buf, size), bin);
    free(buf);
    EXPECT_EQ(qb_tmp_file_delete(s, url.get(), mut("x.bin")), 0);
    EXPECT_FALSE(exists("studio/r1/out1/x.bin"));
    EXPECT_EQ(qb_tmp_file_load(s, url.get(), mut("x.bin"), &buf, &size), -1);
    auto bare = owned(qb_tmp_file_save(s, mut("r1"), nullptr, mut("y"), mut("y"), 1));
    EXPECT_STREQ(bare.get(), "studio/r1");
    EXPECT_EQ(read_file("studio/r1/y"), "y");
    EXPECT_EQ(qb_storage_deinit(s), 0);
}

TEST_F(Storage, PlatformLocalFollowsTheWorkedExample) {
    QB_Storage s = qb_storage_init();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(static_cast<qb_storage*>(s)->type, QB_STORAGE_LOCAL);
    EXPECT_EQ(static_cast<qb_storage*>(s)->impl, qb_storage_get_local());
    auto url = owned(qb_tmp_file_save(s, mut("r1"), mut("out1"), mut("x.bin"), mut("payload"), 7));
    ASSERT_TRUE(url);
    EXPECT_STREQ(url.get(), "studio/u/a/r1/n/out1");
    EXPECT_EQ(read_file(root_ + "/studio/u/a/r1/n/out1/x.bin"), "payload");
    char* buf = nullptr;
    int size = 0;
    ASSERT_EQ(qb_tmp_file_load(s, url.get(), mut("x.bin"), &buf, &size), 0);
    EXPECT_EQ(std::string(buf, size), "payload");
    free(buf);
    auto bare = owned(qb_tmp_file_save(s, mut("r1"), nullptr, mut("x.bin"), mut("p"), 1));
    EXPECT_STREQ(bare.get(), "studio/u/a/r1/n");

    EXPECT_EQ(qb_config_save(s, mut("in1"), mut("c.json"), mut("{}"), 2), 2);
    EXPECT_EQ(read_file(configs_ + "/u/a/n/in1/c.json"), "{}");
    EXPECT_EQ(qb_config_save(s, nullptr, mut("c.json"), mut("[]"), 2), 2);
    EXPECT_EQ(read_file(configs_ + "/u/a/n/c.json"), "[]");
    ASSERT_EQ(qb_config_load(s, mut("in1"), mut("c.json"), &buf, &size), 0);
    EXPECT_EQ(std::string(buf, size), "{}");
    free(buf);
    EXPECT_EQ(qb_config_delete(s, mut("in1"), mut("c.json")), 0);
    EXPECT_EQ(qb_config_delete(s, mut("in1"), mut("c.json")), -1);
    EXPECT_EQ(qb_tmp_file_delete(s, url.get(), mut("x.bin")), 0);
    EXPECT_EQ(qb_storage_deinit(s), 0);
}

TEST_F(Storage, AbsentUnknownOrUnbuiltTypesGiveNoRecord) {
    const std::pair<const char*, const char*> cases[] = {
        {nullptr, "No storage type"}, {"s3", "Unknown storage type s3"}, {"Local", "Unknown storage type Local"},
        {"minio", "Storage type minio is not available"}, {"oss", "Storage type oss is not available"}};
    for (const auto& [type, line] : cases) {
        ScopedEnv t("QB_STORAGE_TYPE", type);
        QB_Storage s = reinterpret_cast<QB_Storage>(1);
        std::string out = capture_stdout([&] { s = qb_storage_init(); });
        EXPECT_EQ(s, nullptr) << (type ? type : "(absent)");
        EXPECT_NE(out.find(line), std::string::npos) << out;
        EXPECT_NE(out.find("QB_STORAGE"), std::string::npos);
    }
}

TEST_F(Storage, NullHandlesAreRefused) {
    char* buf = nullptr;
    int size = 0;
    std::string out = capture_stdout([&] {
        EXPECT_EQ(qb_storage_deinit(nullptr), -1);
        EXPECT_EQ(qb_config_save(nullptr, mut("p"), mut("f"), mut("x"), 1), -1);
        EXPECT_EQ(qb_config_load(nullptr, mut("p"), mut("f"), &buf, &size), -1);
        EXPECT_EQ(qb_config_delete(nullptr, mut("p"), mut("f")), -1);
        EXPECT_EQ(qb_tmp_file_save(nullptr, mut("r"), mut("p"), mut("f"), mut("x"), 1), nullptr);
        EXPECT_EQ(qb_tmp_file_load(nullptr, mut("studio/r"), mut("f"), &buf, &size), -1);
        EXPECT_EQ(qb_tmp_file_delete(nullptr, mut("studio/r"), mut("f")), -1);
    });
    EXPECT_EQ(count_of(out, "Null handle\n"), 7);
    out = capture_stdout([&] {
        EXPECT_EQ(ls_deinit(nullptr), -1);
        EXPECT_EQ(ls_save_config(nullptr, mut("p"), mut("f"), mut("x"), 1), -1);
        EXPECT_EQ(ls_load_config(nullptr, mut("p"), mut("f"), &buf, &size), -1);
        EXPECT_EQ(ls_delete_config(nullptr, mut("p"), mut("f")), -1);
        EXPECT_EQ(ls_save_file(nullptr, mut("r"), mut("p"), mut("f"), mut("x"), 1), nullptr);
        EXPECT_EQ(ls_load_file(nullptr, mut("studio/r"), mut("f"), &buf, &size), -1);
        EXPECT_EQ(ls_delete_file(nullptr, mut("studio/r"), mut("f")), -1);
    });
    EXPECT_EQ(count_of(out, "Nul handle\n"), 7);
    EXPECT_FALSE(exists(root_));
}

// A local backend whose parameters are incomplete still yields a front-end
// record; its operations then fail cleanly.
TEST_F(Storage, LocalInitNeedsEveryIdAsOneComponent) {
    for (const char* bad : {static_cast<const char*>(nullptr), "", "..", "x/y"}) {
        ScopedEnv node("QB_NODE_ID", bad);
        LS_Handle h = reinterpret_cast<LS_Handle>(1);
        std::string out = capture_stdout([&] { h = ls_init(); });
        EXPECT_EQ(h, nullptr) << (bad ? bad : "(absent)");
        EXPECT_NE(out.find(bad ? "Invalid --node-id" : "Missing parameter --node-id"), std::string::npos) << out;
        QB_Storage s = nullptr;
        out = capture_stdout([&] {
            s = qb_storage_init();
            ASSERT_NE(s, nullptr);
            EXPECT_EQ(qb_config_save(s, mut("p"), mut("f"), mut("x"), 1), -1);
            EXPECT_EQ(qb_storage_deinit(s), 0);
        });
        EXPECT_NE(out.find("Nul handle"), std::string::npos);
    }
}

// --- local and stand-alone backends ------------------------------------------

TEST_F(Storage, RepeatedSaveOverwritesAndNullRequestIdsAreFresh) {
    LocalHandle ls;
    ASSERT_TRUE(ls.h);
    auto first = owned(ls_save_file(ls.h, mut("r1"), mut("o"), mut("f"), mut("one"), 3));
    std::string out = capture_stdout([&] {
        auto second = owned(ls_save_file(ls.h, mut("r1"), mut("o"), mut("f"), mut("two!"), 4));
        EXPECT_STREQ(second.get(), first.get());
    });
    EXPECT_NE(out.find("Already exists " + root_ + "/studio/u/a/r1/n/o/f\n"), std::string::npos) << out;
    EXPECT_EQ(read_file(root_ + "/studio/u/a/r1/n/o/f"), "two!");

    stand_alone();
    auto fake1 = owned(fake_storage_save_file(nullptr, mut("r1"), nullptr, mut("f"), mut("1"), 1));
    out = capture_stdout([] { owned(fake_storage_save_file(nullptr, mut("r1"), nullptr, mut("f"), mut("22"), 2)); });
    EXPECT_NE(out.find("Already exists studio/r1/f\n"), std::string::npos) << out;
    EXPECT_EQ(read_file("studio/r1/f"), "22");

    // A null request id becomes a fresh UUID in the request position.
    const std::regex local_form("studio/u/a/[0-9a-f]{32}/n/o"), fake_form("studio/[0-9a-f]{32}/o");
    std::set<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        auto l = owned(ls_save_file(ls.h, nullptr, mut("o"), mut("f"), mut("x"), 1));
        auto f = owned(fake_storage_save_file(nullptr, nullptr, mut("o"), mut("f"), mut("x"), 1));
        ASSERT_TRUE(l && f);
        EXPECT_TRUE(std::regex_match(l.get(), local_form)) << l.get();
        EXPECT_TRUE(std::regex_match(f.get(), fake_form)) << f.get();
        seen.insert(l.get());
        seen.insert(f.get());
    }
    EXPECT_EQ(seen.size(), 6u);
}

TEST_F(Storage, FailedWritesReturnNoLocation) {
    LocalHandle ls;
    // A directory where the file should go: it "exists", and opening it for writing fails.
    fs::create_directories(root_ + "/studio/u/a/r1/n/o/f");
    fs::create_directories("studio/r1/o/f");
    fs::create_directories(configs_ + "/u/a/n/p/c");
    capture_stdout([&] {
        EXPECT_EQ(ls_save_file(ls.h, mut("r1"), mut("o"), mut("f"), mut("x"), 1), nullptr);
        EXPECT_EQ(fake_storage_save_file(nullptr, mut("r1"), mut("o"), mut("f"), mut("x"), 1), nullptr);
        EXPECT_EQ(ls_save_config(ls.h, mut("p"), mut("c"), mut("x"), 1), -1);
        EXPECT_EQ(ls_save_file(ls.h, mut("r2"), mut("o"), mut("f"), mut("x"), -1), nullptr);
    });
}

// Every caller-supplied component is checked, on both backends, before a path is built.
TEST_F(Storage, TraversalAndMalformedComponentsAreRefused) {
    LocalHandle ls;
    fs::create_directories(root_);
    write_file(dir_.file("secret"), "keep");
    write_file(root_ + "/studio/u/a/r/n/o/f", "");  // ensures a legitimate tree exists too
    const char* bad_components[] = {"..", ".", "", "a/b", "/etc", "a\nb", "a\rb"};
    const char* bad_urls[] = {"../secret", "studio/../..", "/tmp", "studio", "studio/", "studio//x", "tmp/x",
                              "studio/a/./b", "studio/a/../../..", "studio/a\n", "Studio/x"};
    char* buf = nullptr;
    int size = 0;
    std::string out = capture_stdout([&] {
        for (const char* c : bad_components) {
            EXPECT_EQ(ls_save_file(ls.h, mut(c), mut("o"), mut("f"), mut("x"), 1), nullptr) << c;
            EXPECT_EQ(ls_save_file(ls.h, mut("r"), mut(c), mut("f"), mut("x"), 1), nullptr) << c;
            EXPECT_EQ(ls_save_file(ls.h, mut("r"), mut("o"), mut(c), mut("x"), 1), nullptr) << c;
            EXPECT_EQ(fake_storage_save_file(nullptr, mut(c), mut("o"), mut("f"), mut("x"), 1), nullptr) << c;
            EXPECT_EQ(fake_storage_save_file(nullptr, mut("r"), mut(c), mut("f"), mut("x"), 1), nullptr) << c;
            EXPECT_EQ(ls_save_config(ls.h, mut(c), mut("f"), mut("x"), 1), -1) << c;
            EXPECT_EQ(ls_save_config(ls.h, mut("p"), mut(c), mut("x"), 1), -1) << c;
            EXPECT_EQ(ls_load_config(ls.h, mut(c), mut("f"), &buf, &size), -1) << c;
            EXPECT_EQ(fake_storage_save_config(nullptr, mut(c), mut("f"), mut("x"), 1), -1) << c;
            EXPECT_EQ(fake_storage_delete_config(nullptr, nullptr, mut(c)), -1) << c;
            EXPECT_EQ(ls_load_file(ls.h, mut("studio/u/a/r/n/o"), mut(c), &buf, &size), -1) << c;
            EXPECT_EQ(fake_storage_delete_file(nullptr, mut("studio/r"), mut(c)), -1) << c;
        }
        for (const char* u : bad_urls) {
            EXPECT_EQ(ls_load_file(ls.h, mut(u), mut("secret"), &buf, &size), -1) << u;
            EXPECT_EQ(ls_delete_file(ls.h, mut(u), mut("secret")), -1) << u;
            EXPECT_EQ(fake_storage_load_file(nullptr, mut(u), mut("secret"), &buf, &size), -1) << u;
            EXPECT_EQ(fake_storage_delete_file(nullptr, mut(u), mut("secret")), -1) << u;
        }
    });
    EXPECT_EQ(count_of(out, "not a single path component"), 12 * 7);
    EXPECT_EQ(count_of(out, "Invalid url"), 4 * 11);
    EXPECT_EQ(read_file(dir_.file("secret")), "keep");
    EXPECT_FALSE(exists("configs"));
    EXPECT_FALSE(exists(configs_));
    EXPECT_FALSE(exists("studio"));
    // Names that merely contain dots are ordinary.
    auto ok = owned(ls_save_file(ls.h, mut("r.1"), mut("..o"), mut("f..bin"), mut("x"), 1));
    EXPECT_STREQ(ok.get(), "studio/u/a/r.1/n/..o");
}

// A path that does not fit 1024 bytes is refused, never cut into another name.
TEST_F(Storage, OverlongPathsAreRefusedNotTruncated) {
    // A deep root leaves little room; the cut-off form of the full path names
    // an existing file that must stay untouched.
    const std::string seg(200, 'd');
    const std::string deep = root_ + "/" + seg + "/" + seg + "/" + seg + "/" + seg;
    ScopedEnv deep_root("QB_STORAGE_LOCAL_TEMP_STORE", deep.c_str());
    const std::string name(200, 'f');
    const std::string full = deep + "/studio/u/a/r1/n/o/" + name;
    ASSERT_GT(full.size(), 1023u);
    const std::string cut = full.substr(0, 1023);
    fs::create_directories(fs::path(cut).parent_path());
    write_file(cut, "keep");

    LocalHandle ls;
    const std::string part(250, 'p');
    std::string out = capture_stdout([&] {
        EXPECT_EQ(ls_save_file(ls.h, mut("r1"), mut("o"), mut(name.c_str()), mut("x"), 1), nullptr);
        EXPECT_EQ(fake_storage_save_file(nullptr, mut(part.c_str()), mut(part.c_str()),
                                         mut((part + part + part).c_str()), mut("x"), 1), nullptr);
        std::string p3 = part + part + part;
        EXPECT_EQ(ls_save_config(ls.h, mut(p3.c_str()), mut(part.c_str()), mut("x"), 1), -1);
        std::string url = "studio/" + part;
        char* buf = nullptr;
        int size = 0;
        EXPECT_EQ(ls_load_file(ls.h, mut(url.c_str()), mut(name.c_str()), &buf, &size), -1);
        EXPECT_EQ(ls_is_folder(ls.h, mut((url + "/" + part).c_str())), -1);
    });
    EXPECT_EQ(count_of(out, "Path too long"), 5) << out;
    EXPECT_EQ(read_file(cut), "keep");
    EXPECT_FALSE(exists("studio"));
    EXPECT_FALSE(exists(configs_));

    // The root itself must fit as well.
    qb::local_storage_forget_root();
    ScopedEnv long_root("QB_STORAGE_LOCAL_TEMP_STORE", ("/tmp/" + std::string(1100, 'r')).c_str());
    out = capture_stdout([&] { EXPECT_EQ(ls_save_file(ls.h, mut("r"), nullptr, mut("f"), mut("x"), 1), nullptr); });
    EXPECT_NE(out.find("Local root too long"), std::string::npos) << out;
}

TEST_F(Storage, RootNeedsLocalTypeAndIsFixedOnceUnderConcurrentFirstUse) {
    LocalHandle ls;
    ASSERT_TRUE(ls.h);
    const std::pair<const char*, const char*> cases[] = {{nullptr, "No storage type\n"},
                                                         {"minio", "Storage type only support local\n"}};
    for (const auto& [type, line] : cases) {
        ScopedEnv t("QB_STORAGE_TYPE", type);
        std::string out = capture_stdout([&] { EXPECT_EQ(ls_save_file(ls.h, mut("r"), nullptr, mut("f"), mut("x"), 1), nullptr); });
        EXPECT_NE(out.find(line), std::string::npos) << out;
    }
    {
        ScopedEnv unset("QB_STORAGE_LOCAL_TEMP_STORE", nullptr);
        std::string out = capture_stdout([&] { EXPECT_EQ(ls_is_file(ls.h, mut("x")), -1); });
        EXPECT_NE(out.find("No local root"), std::string::npos) << out;
    }

    // A failed attempt is not remembered; the first success is, by every thread.
    fs::create_directories(root_ + "/d");
    std::string out = capture_stdout([&] {
        std::vector<std::thread> threads;
        std::atomic<int> ok{0};
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&] { ok += ls_is_folder(ls.h, mut("d")) == 0; });
        for (auto& t : threads) t.join();
        EXPECT_EQ(ok, 8);
    });
    EXPECT_EQ(count_of(out, "Using path=" + root_ + "\n"), 1) << out;
    ScopedEnv moved("QB_STORAGE_LOCAL_TEMP_STORE", dir_.file("elsewhere").c_str());
    EXPECT_EQ(ls_is_folder(ls.h, mut("d")), 0);
}

TEST_F(Storage, ExtraFileOperationsStayBelowTheRoot) {
    LocalHandle ls;
    fs::create_directories(root_ + "/studio/d");
    write_file(root_ + "/studio/d/f", "abc");
    write_file(dir_.file("rootsibling"), "outside");
    const std::pair<const char*, int> folders[] = {{"studio/d", 0}, {"studio/d/f", -1}, {"studio/none", -1}};
    for (const auto& [p, want] : folders) EXPECT_EQ(ls_is_folder(ls.h, mut(p)), want) << p;
    EXPECT_EQ(ls_is_file(ls.h, mut("studio/d/f")), 0);
    EXPECT_EQ(ls_is_file(ls.h, mut("studio/d")), -1);

    unsigned char want[16];
    SDK_MD5String(mut("abc"), want);
    char digest[16] = {};
    EXPECT_EQ(ls_get_storage_md5(ls.h, mut("studio/d/f"), digest), 0);
    EXPECT_EQ(memcmp(digest, want, 16), 0);
    int size = -1;
    EXPECT_EQ(ls_get_storage_size(ls.h, mut("studio/d/f"), &size), 0);
    EXPECT_EQ(size, 3);
    capture_stdout([&] {
        EXPECT_EQ(ls_get_storage_md5(ls.h, mut("studio/d"), digest), -1);  // a directory cannot be read
        EXPECT_EQ(ls_get_storage_size(ls.h, mut("studio/missing"), &size), 0);
    });
    EXPECT_EQ(size, 0);

    // ls_copy joins without a separator, so its paths start with "/".
    std::string out = capture_stdout([&] { EXPECT_EQ(ls_copy(ls.h, mut("/studio/d/f"), mut("/studio/g")), 0); });
    EXPECT_NE(out.find("Copy " + root_ + "/studio/d/f -> " + root_ + "/studio/g\n"), std::string::npos) << out;
    EXPECT_EQ(read_file(root_ + "/studio/g"), "abc");

    out = capture_stdout([&] {
        EXPECT_EQ(ls_remove(ls.h, mut("studio/g")), 0);
        EXPECT_EQ(ls_remove(ls.h, mut("studio/g")), -1);
    });
    EXPECT_NE(out.find("Removed studio/g.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Remove failed: errno=2\n"), std::string::npos) << out;

    // Out of the root: dot components, and a join that names a sibling of the root.
    out = capture_stdout([&] {
        EXPECT_EQ(ls_copy(ls.h, mut("sibling"), mut("/studio/h")), -1);
        EXPECT_EQ(ls_copy(ls.h, mut("/studio/d/f"), mut("/../rootsibling")), -1);
        EXPECT_EQ(ls_remove(ls.h, mut("../rootsibling")), -1);
        EXPECT_EQ(ls_is_file(ls.h, mut("studio/../../rootsibling")), -1);
        EXPECT_EQ(ls_get_storage_md5(ls.h, mut("./../rootsibling"), digest), -1);
        EXPECT_EQ(ls_get_storage_size(ls.h, mut(".."), &size), -1);
        EXPECT_EQ(ls_remove(ls.h, mut("")), -1);
    });
    EXPECT_EQ(count_of(out, "Invalid path"), 7) << out;
    EXPECT_EQ(read_file(dir_.file("rootsibling")), "outside");
    EXPECT_FALSE(exists(root_ + "/studio/h"));
}

}  // namespace
