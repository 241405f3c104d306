#include <filesystem>
#include <regex>
#include <thread>

#include "fake_storage.h"
#include "local_storage.h"
#include "qb_storage.h"
#include "qb_storage_impl.h"
#include "runtime/storage/local/local_storage_internal.h"
#include "sdk_config.h"
#include "sdk_logger.h"
#include "support/storage_checks.h"
#include "support/test_support.h"

using namespace qbtest;
namespace fs = std::filesystem;

namespace {

using CStr = std::unique_ptr<char, decltype(&free)>;
CStr owned(char* s) { return CStr(s, free); }

// Each test runs in a fresh working directory (the stand-alone tree) with the platform parameters in QB_*
// variables. "/global/configs" is pointed into the temporary directory through the library's test hook, and
// the local root is forgotten so each test fixes it anew.
class Storage : public ::testing::Test {
protected:
    Storage() { qb::local_storage_set_config_root(configs_.c_str()); }
    ~Storage() override {
        if (ls_) ls_deinit(ls_);
        qb::local_storage_forget_root();
        qb::local_storage_set_config_root(nullptr);
    }
    LS_Handle local() { return ls_ ? ls_ : (ls_ = ls_init()); }

    TempDir dir_;
    ScopedChdir cd_{dir_.path()};
    const std::string root_ = dir_.file("root"), configs_ = dir_.file("global-configs");
    ScopedEnv param_{"QB_PARAM", nullptr}, mq_type_{"QB_MQ_TYPE", "redis"}, storage_type_{"QB_STORAGE_TYPE", "local"};
    ScopedEnv user_{"QB_USER_ID", "u"}, app_{"QB_APP_ID", "a"}, node_{"QB_NODE_ID", "n"};
    ScopedEnv temp_{"QB_STORAGE_LOCAL_TEMP_STORE", root_.c_str()};
    LogLevel level_{SDK_LOG_LEVEL_DEBUG};
    LS_Handle ls_ = nullptr;
    char* buf_ = nullptr;
    int size_ = 0;
};

// The worked examples through the front end, stand-alone (below the working directory) and on the
// platform's local backend (root and configuration tree keyed by user u, app a, node n); then writes that
// fail because a directory stands where the file should go.
TEST_F(Storage, WorkedExamplesAndFailedWritesOnBothBackends) {
    struct Case { const char* mq_type; qb_storage_type type; std::string files, url_head, url_tail, configs; };
    const Case cases[] = {{nullptr, QB_STORAGE_FAKE, "", "studio/", "", "configs"},
                          {"redis", QB_STORAGE_LOCAL, root_ + "/", "studio/u/a/", "/n", configs_ + "/u/a/n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        ScopedEnv mq("QB_MQ_TYPE", c.mq_type);
        QB_Storage s = nullptr;
        std::string out = capture_stdout([&] { s = qb_storage_init(); });
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(static_cast<qb_storage*>(s)->type, c.type);
        EXPECT_EQ(static_cast<qb_storage*>(s)->handle == nullptr, !c.mq_type);
        EXPECT_EQ(out.find("not in quorbit environment, using baremental storage type\n") != out.npos, !c.mq_type);
        // Temporary files: binary content survives, a second save logs and replaces, no port gives a shorter url.
        auto save = [&](const char* request, const char* port, const std::string& data, int size) {
            CStr u = owned(qb_tmp_file_save(s, mut(request), mut(port), mut("x.bin"), mut(data.data()), size));
            return std::string(u ? u.get() : "(null)");
        };
        const std::string bin("a\0b\xff", 4), dir = c.url_head + "r1" + c.url_tail, url = dir + "/out1";
        const std::string file = c.files + url + "/x.bin";
        EXPECT_EQ(save("r1", "out1", "old", 3), url);
        out = capture_stdout([&] { EXPECT_EQ(save("r1", "out1", bin, 4), url); });
        EXPECT_NE(out.find("Already exists " + file + "\n"), out.npos) << out;
        EXPECT_EQ(read_file(file), bin);
        ASSERT_EQ(qb_tmp_file_load(s, mut(url.c_str()), mut("x.bin"), &buf_, &size_), 0);
        EXPECT_EQ(std::string(owned(buf_).get(), size_), bin);
        EXPECT_EQ(qb_tmp_file_delete(s, mut(url.c_str()), mut("x.bin")), 0);
        EXPECT_EQ(save("r1", nullptr, "y", 1), dir);
        // A null request id becomes a fresh UUID in the request position.
        const std::regex fresh(c.url_head + "[0-9a-f]{32}" + c.url_tail + "/o");
        const std::string u1 = save(nullptr, "o", "x", 1), u2 = save(nullptr, "o", "x", 1);
        EXPECT_TRUE(std::regex_match(u1, fresh) && std::regex_match(u2, fresh) && u1 != u2) << u1 << " " << u2;
        // Configurations per port and at the top; deleting twice gives 0 then -1.
        EXPECT_EQ(qb_config_save(s, mut("in1"), mut("c.json"), mut("{\"k\":1}"), 7), 7);
        EXPECT_EQ(qb_config_save(s, nullptr, mut("c.json"), mut("[]"), 2), 2);
        EXPECT_EQ(read_file(c.configs + "/in1/c.json") + read_file(c.configs + "/c.json"), "{\"k\":1}[]");
        ASSERT_EQ(qb_config_load(s, mut("in1"), mut("c.json"), &buf_, &size_), 0);
        EXPECT_EQ(std::string(owned(buf_).get()) + "/" + std::to_string(size_), "{\"k\":1}/7");
        EXPECT_EQ(qb_config_delete(s, mut("in1"), mut("c.json")), 0);
        EXPECT_EQ(qb_config_delete(s, mut("in1"), mut("c.json")), -1);
        // Failed writes (a directory where the file goes; a negative size): no location text, -1. create_directories
        // would also throw if the delete above had left the file.
        for (const std::string& d : {file, c.configs + "/in1/c.json"}) fs::create_directories(d);
        capture_stdout([&] {
            EXPECT_EQ(save("r1", "out1", "x", 1), "(null)");
            EXPECT_EQ(save("r2", "out1", "x", -1), "(null)");
            EXPECT_EQ(qb_config_save(s, mut("in1"), mut("c.json"), mut("x"), 1), -1);
        });
        EXPECT_EQ(qb_storage_deinit(s), 0);
    }
}

// Creation fails cleanly: an absent, unknown or unbuilt storage type gives no record, and a node id that is
// absent or not one path component gives a record without backend. Either way every operation refuses.
TEST_F(Storage, InitFailuresLeaveOnlyRefusingHandles) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"QB_STORAGE_TYPE", nullptr, "No storage type"}, {"QB_STORAGE_TYPE", "Local", "Unknown storage type Local"},
#if !defined(ENABLE_QB_STORAGE_MINIO)
        {"QB_STORAGE_TYPE", "minio", "Storage type minio is not available"},
#endif
#if !defined(ENABLE_QB_STORAGE_OSS)
        {"QB_STORAGE_TYPE", "oss", "Storage type oss is not available"},
#endif
        {"QB_NODE_ID", nullptr, "Missing parameter --node-id"}, {"QB_NODE_ID", "..", "Invalid --node-id"}};
    for (const auto& [var, value, line] : cases) {
        ScopedEnv env(var, value);
        QB_Storage s = reinterpret_cast<QB_Storage>(1);
        std::string out = capture_stdout([&] { s = qb_storage_init(); });
        EXPECT_NE(out.find(line), out.npos) << out;
        EXPECT_EQ(s == nullptr, strcmp(var, "QB_STORAGE_TYPE") == 0) << line;
        out = capture_stdout([&] {
            expect_operations_refused(s);
            EXPECT_EQ(qb_storage_deinit(s), s ? 0 : -1);
        });
        EXPECT_EQ(count_of(out, s ? "Nul handle\n" : "Null handle\n"), 7) << out;
    }
}

// Every caller-supplied component is checked, on both backends, before a path is built; the extra file
// operations refuse paths that leave the root.
TEST_F(Storage, TraversalAndMalformedComponentsAreRefused) {
    LS_Handle ls = local();
    fs::create_directories(root_ + "/studio/u/a/r/n/o");  // so that the traversals would resolve
    write_file(dir_.file("rootsecret"), "keep");
    const char* bad_components[] = {"..", ".", "", "a/b", "/etc", "a\nb", "a\rb"};
    const char* bad_urls[] = {"../secret", "studio/../..", "/tmp", "studio", "studio/", "studio//x", "tmp/x",
                              "studio/a/./b", "studio/a/../../..", "studio/a\n", "Studio/x"};
    char digest[16];
    std::string out = capture_stdout([&] {
        for (const char* c : bad_components) {
            EXPECT_EQ(ls_save_file(ls, mut(c), mut("o"), mut("f"), mut("x"), 1), nullptr) << c;
            EXPECT_EQ(ls_save_file(ls, mut("r"), mut(c), mut("f"), mut("x"), 1), nullptr) << c;
            EXPECT_EQ(ls_save_file(ls, mut("r"), mut("o"), mut(c), mut("x"), 1), nullptr) << c;
            EXPECT_EQ(fake_storage_save_file(nullptr, mut(c), mut("o"), mut("f"), mut("x"), 1), nullptr) << c;
            EXPECT_EQ(fake_storage_save_file(nullptr, mut("r"), mut(c), mut("f"), mut("x"), 1), nullptr) << c;
            EXPECT_EQ(ls_save_config(ls, mut(c), mut("f"), mut("x"), 1), -1) << c;
            EXPECT_EQ(ls_load_config(ls, mut("p"), mut(c), &buf_, &size_), -1) << c;
            EXPECT_EQ(fake_storage_save_config(nullptr, mut(c), mut("f"), mut("x"), 1), -1) << c;
            EXPECT_EQ(fake_storage_delete_config(nullptr, nullptr, mut(c)), -1) << c;
            EXPECT_EQ(ls_load_file(ls, mut("studio/u/a/r/n/o"), mut(c), &buf_, &size_), -1) << c;
            EXPECT_EQ(fake_storage_delete_file(nullptr, mut("studio/r"), mut(c)), -1) << c;
        }
        for (const char* u : bad_urls) {
            EXPECT_EQ(ls_delete_file(ls, mut(u), mut("rootsecret")), -1) << u;
            EXPECT_EQ(fake_storage_load_file(nullptr, mut(u), mut("rootsecret"), &buf_, &size_), -1) << u;
        }
        // ls_copy joins root and path without a separator, so "/../x" or "secret" names a sibling of the root.
        EXPECT_EQ(ls_copy(ls, mut("secret"), mut("/studio/h")), -1);
        EXPECT_EQ(ls_copy(ls, mut("/studio/u/a/r/n/o"), mut("/../rootsecret")), -1);
        EXPECT_EQ(ls_remove(ls, mut("../rootsecret")), -1);
        EXPECT_EQ(ls_get_storage_md5(ls, mut("./../rootsecret"), digest), -1);
    });
    EXPECT_EQ(count_of(out, "not a single path component"), 11 * 7);
    EXPECT_EQ(count_of(out, "Invalid url"), 2 * 11);
    EXPECT_EQ(count_of(out, "Invalid path"), 4);
    EXPECT_EQ(read_file(dir_.file("rootsecret")), "keep");
    for (const std::string& p : {std::string("configs"), configs_, std::string("studio"), root_ + "/studio/h"})
        EXPECT_FALSE(fs::exists(p)) << p;
    // Names that merely contain dots are ordinary.
    EXPECT_STREQ(owned(ls_save_file(ls, mut("r.1"), mut("..o"), mut("f..bin"), mut("x"), 1)).get(), "studio/u/a/r.1/n/..o");
}

// A path that does not fit 1024 bytes is refused, never cut into another name.
TEST_F(Storage, OverlongPathsAreRefusedNotTruncated) {
    // A deep root leaves little room; the cut-off form of the full path names an existing file that must stay.
    const std::string seg(200, 'd'), name(200, 'f'), part(250, 'p'), p3 = part + part + part, url = "studio/" + part;
    const std::string deep = root_ + "/" + seg + "/" + seg + "/" + seg + "/" + seg;
    const std::string cut = (deep + "/studio/u/a/r1/n/o/" + name).substr(0, 1023);
    fs::create_directories(fs::path(cut).parent_path());
    write_file(cut, "keep");
    ScopedEnv deep_root("QB_STORAGE_LOCAL_TEMP_STORE", deep.c_str());
    LS_Handle ls = local();
    std::string out = capture_stdout([&] {
        EXPECT_EQ(ls_save_file(ls, mut("r1"), mut("o"), mut(name.c_str()), mut("x"), 1), nullptr);
        EXPECT_EQ(fake_storage_save_file(nullptr, mut(part.c_str()), mut(part.c_str()), mut(p3.c_str()), mut("x"), 1),
                  nullptr);
        EXPECT_EQ(ls_save_config(ls, mut(p3.c_str()), mut(part.c_str()), mut("x"), 1), -1);
        EXPECT_EQ(ls_load_file(ls, mut(url.c_str()), mut(name.c_str()), &buf_, &size_), -1);
        EXPECT_EQ(ls_is_folder(ls, mut((url + "/" + part).c_str())), -1);
    });
    EXPECT_EQ(count_of(out, "Path too long"), 5) << out;
    EXPECT_EQ(read_file(cut), "keep");
    EXPECT_FALSE(fs::exists("studio") || fs::exists(configs_));
    // The root itself must fit as well.
    qb::local_storage_forget_root();
    ScopedEnv long_root("QB_STORAGE_LOCAL_TEMP_STORE", ("/tmp/" + std::string(1100, 'r')).c_str());
    out = capture_stdout([&] { EXPECT_EQ(ls_save_file(ls, mut("r"), nullptr, mut("f"), mut("x"), 1), nullptr); });
    EXPECT_NE(out.find("Local root too long"), out.npos) << out;
}

// The root needs the local type and its parameter; a failed attempt is not remembered, the first success is,
// by every thread at once. Then the extra operations relative to it (ls_copy joins without a separator, so its
// paths start with "/").
TEST_F(Storage, LocalRootAndItsFileOperations) {
    LS_Handle ls = local();
    fs::create_directories(root_ + "/d");
    write_file(root_ + "/d/f", "abc");
    const std::pair<const char*, const char*> unusable[] = {{"QB_STORAGE_TYPE", "minio"},
                                                            {"QB_STORAGE_LOCAL_TEMP_STORE", nullptr}};
    for (const auto& [var, value] : unusable) {
        ScopedEnv env(var, value);
        std::string out = capture_stdout([&] { EXPECT_EQ(ls_is_folder(ls, mut("d")), -1); });
        EXPECT_NE(out.find(value ? "Storage type only support local\n" : "No local root"), out.npos) << out;
    }
    std::string out = capture_stdout([&] {
        std::vector<std::thread> threads;
        std::atomic<int> ok{0};
        for (int i = 0; i < 8; ++i) threads.emplace_back([&] { ok += ls_is_folder(ls, mut("d")) == 0; });
        for (auto& t : threads) t.join();
        EXPECT_EQ(ok, 8);
    });
    EXPECT_EQ(count_of(out, "Using path=" + root_ + "\n"), 1) << out;
    ScopedEnv moved("QB_STORAGE_LOCAL_TEMP_STORE", dir_.file("elsewhere").c_str());
    // "" is the root itself for the queries; the operations that change things still refuse it.
    for (const auto& [p, folder, file] : {std::tuple("d", 0, -1), {"d/f", -1, 0}, {"none", -1, -1}, {"", 0, -1}})
        EXPECT_TRUE(ls_is_folder(ls, mut(p)) == folder && ls_is_file(ls, mut(p)) == file) << p;
    int size = -1;
    EXPECT_EQ(ls_get_storage_size(ls, mut(""), &size), 0);
    EXPECT_GE(size, 0);
    capture_stdout([&] { EXPECT_EQ(ls_remove(ls, mut("")), -1); });
    out = capture_stdout([&] {
        EXPECT_EQ(ls_copy(ls, mut("/d/f"), mut("/d/g")), 0);
        EXPECT_EQ(read_file(root_ + "/d/g"), "abc");
        EXPECT_EQ(ls_remove(ls, mut("d/g")), 0);
        EXPECT_EQ(ls_remove(ls, mut("d/g")), -1);
    });
    EXPECT_NE(out.find("Copy " + root_ + "/d/f -> " + root_ + "/d/g\n"), out.npos) << out;
    EXPECT_EQ(count_of(out, "Removed d/g.\n") + count_of(out, "Remove failed: errno=2\n"), 2) << out;
}

}  // namespace
