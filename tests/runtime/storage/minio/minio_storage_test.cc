#include <json-c/json.h>

#include <filesystem>
#include <vector>

#include "minio_storage.h"
#include "qb_storage.h"
#include "sdk_logger.h"
#include "support/storage_checks.h"
#include "support/test_support.h"

using namespace qbtest;
namespace fs = std::filesystem;

namespace {

using Argv = std::vector<std::string>;
using CStr = std::unique_ptr<char, decltype(&free)>;
CStr owned(char* s) { return CStr(s, free); }

// The backend drives our mc stand-in (tests/support/mc_standin.py, first on PATH), which keeps objects below
// mc_/objects and records every argument vector; go-between files go to tmp_.
class Minio : public ::testing::Test {
protected:
    Minio() {
        fs::create_directories(bin_);
        fs::create_directories(mc_);
        fs::create_directories(tmp_);
        fs::create_symlink(QB_TEST_SOURCE_DIR "/support/mc_standin.py", bin_ + "/mc");
    }
    // Every argument vector mc was started with.
    std::vector<Argv> calls() {
        std::vector<Argv> out;
        std::istringstream log(read_file(mc_ + "/argv.log"));
        for (std::string line; std::getline(log, line);) {
            json_object* a = json_tokener_parse(line.c_str());
            Argv v;
            for (size_t i = 0; i < json_object_array_length(a); ++i)
                v.emplace_back(json_object_get_string(json_object_array_get_idx(a, i)));
            json_object_put(a);
            out.push_back(v);
        }
        return out;
    }
    bool tmp_empty() { return fs::is_empty(tmp_); }
    std::string object(const std::string& key) { return read_file(mc_ + "/objects/qbminio/quorbit/" + key); }

    TempDir dir_;
    ScopedChdir cd_{dir_.path()};
    const std::string bin_ = dir_.file("bin"), mc_ = dir_.file("mc"), tmp_ = dir_.file("tmp");
    const std::string secret_ = "s'k $(touch pwned)";
    ScopedEnv path_{"PATH", (bin_ + ":" + getenv("PATH")).c_str()}, tmpdir_{"TMPDIR", tmp_.c_str()};
    ScopedEnv mc_dir_{"MC_STANDIN_DIR", mc_.c_str()}, mc_secret_{"MC_STANDIN_SECRET", secret_.c_str()};
    ScopedEnv param_{"QB_PARAM", nullptr}, mq_{"QB_MQ_TYPE", "redis"}, type_{"QB_STORAGE_TYPE", "minio"};
    ScopedEnv user_{"QB_USER_ID", "u"}, app_{"QB_APP_ID", "a"}, node_{"QB_NODE_ID", "n"};
    ScopedEnv bucket_{"QB_STORAGE_MINIO_BUCKET_NAME", "qbminio"};
    ScopedEnv endpoint_{"QB_STORAGE_MINIO_ENDPOINT", "http://127.0.0.1:9000"};
    ScopedEnv access_{"QB_STORAGE_MINIO_ACCESS_KEY", "ak"}, secret_env_{"QB_STORAGE_MINIO_SECRET_KEY", secret_.c_str()};
    LogLevel level_{SDK_LOG_LEVEL_DEBUG};
    char* buf_ = nullptr;
    int size_ = 0;
};

// The worked examples through the front end: the exact mc argument vectors, objects where mc puts them,
// go-between files with fresh names that never outlive an operation, and the zero byte after loaded data.
TEST_F(Minio, WorkedExamplesRunEndToEnd) {
    QB_Storage s = qb_storage_init();
    ASSERT_NE(s, nullptr);
    ASSERT_NE(static_cast<qb_storage*>(s)->handle, nullptr);
    EXPECT_EQ(static_cast<qb_storage*>(s)->type, QB_STORAGE_MINIO);
    EXPECT_EQ(calls().at(0), (Argv{"config", "host", "add", "qbminio", "http://127.0.0.1:9000", "ak", secret_}));

    const std::string cfg = "qbminio/quorbit/studio/u/configs/a/n/in1/c.json";
    EXPECT_EQ(qb_config_save(s, mut("in1"), mut("c.json"), mut("{\"k\":1}"), 7), 0);
    Argv save = calls().back();
    ASSERT_EQ(save.size(), 4u);
    EXPECT_EQ(Argv(save.begin(), save.begin() + 2), (Argv{"cp", "-a"}));
    EXPECT_EQ(save[2].rfind(tmp_ + "/", 0), 0u) << save[2];
    EXPECT_NE(save[2], tmp_ + "/c.json");
    EXPECT_EQ(save[3], cfg);
    EXPECT_EQ(object("studio/u/configs/a/n/in1/c.json"), "{\"k\":1}");
    ASSERT_EQ(qb_config_load(s, mut("in1"), mut("c.json"), &buf_, &size_), 0);
    EXPECT_EQ(std::string(owned(buf_).get(), size_ + 1), std::string("{\"k\":1}\0", 8));
    EXPECT_EQ(calls().back().at(1), cfg);
    EXPECT_EQ(qb_config_delete(s, mut("in1"), mut("c.json")), 0);
    EXPECT_EQ(calls().back(), (Argv{"rm", cfg}));
    EXPECT_TRUE(tmp_empty());
    // Missing objects: mc fails, so do we, and the partial download is gone too.
    std::string out = capture_stdout([&] {
        EXPECT_EQ(qb_config_delete(s, mut("in1"), mut("c.json")), -1);
        EXPECT_EQ(qb_config_load(s, mut("in1"), mut("c.json"), &buf_, &size_), -1);
    });
    EXPECT_EQ(count_of(out, "No result\n"), 2) << out;
    EXPECT_TRUE(tmp_empty());

    const std::string bin("a\0b\xff", 4);
    CStr url = owned(qb_tmp_file_save(s, mut("r1"), mut("out1"), mut("x.bin"), mut(bin.data()), 4));
    ASSERT_STREQ(url.get(), "studio/u/tmp/a/r1/n/out1");
    EXPECT_EQ(calls().back().at(3), "qbminio/quorbit/studio/u/tmp/a/r1/n/out1/x.bin");
    ASSERT_EQ(qb_tmp_file_load(s, url.get(), mut("x.bin"), &buf_, &size_), 0);
    EXPECT_EQ(std::string(owned(buf_).get(), size_), bin);
    EXPECT_EQ(calls().back().at(1), "qbminio/quorbit/studio/u/tmp/a/r1/n/out1/x.bin");
    EXPECT_EQ(qb_tmp_file_delete(s, url.get(), mut("x.bin")), 0);
    EXPECT_EQ(calls().back(), (Argv{"rm", "qbminio/quorbit/studio/u/tmp/a/r1/n/out1/x.bin"}));
    // Without a port.
    EXPECT_STREQ(owned(qb_tmp_file_save(s, mut("r1"), nullptr, mut("y"), mut("y"), 1)).get(), "studio/u/tmp/a/r1/n");
    EXPECT_EQ(qb_config_save(s, nullptr, mut("c.json"), mut("[]"), 2), 0);
    EXPECT_EQ(object("studio/u/tmp/a/r1/n/y") + object("studio/u/configs/a/n/c.json"), "y[]");
    // mc that reports an ERROR on its output fails the operation.
    ScopedEnv say("MC_STANDIN_SAY", "mc: <ERROR> Unable to upload.");
    out = capture_stdout([&] { EXPECT_EQ(qb_config_save(s, nullptr, mut("c.json"), mut("[]"), 2), -1); });
    EXPECT_NE(out.find("Error:mc: <ERROR> Unable to upload.\n"), out.npos) << out;
    EXPECT_TRUE(tmp_empty());
    EXPECT_EQ(qb_storage_deinit(s), 0);
}

// Names come from upstream messages: quotes, ";", "$()" and backquotes reach mc as the very same words and
// run nothing; "..", "/" and empty names never reach mc at all.
TEST_F(Minio, HostileNamesAreQuotedOrRefused) {
    Minio_Handle m = minio_init();
    ASSERT_NE(m, nullptr);
    const std::string file = "it's; $(touch pwned) `touch pwned` \"q\" & | > x", port = "o'; rm -rf ~", req = "r$(id)";
    const std::string key = "studio/u/tmp/a/" + req + "/n/" + port + "/" + file;
    CStr url = owned(minio_save_file(m, mut(req.c_str()), mut(port.c_str()), mut(file.c_str()), mut("v"), 1));
    ASSERT_NE(url, nullptr);
    EXPECT_EQ(calls().back().at(3), "qbminio/quorbit/" + key);
    EXPECT_EQ(object(key), "v");
    ASSERT_EQ(minio_load_file(m, url.get(), mut(file.c_str()), &buf_, &size_), 0);
    EXPECT_EQ(std::string(owned(buf_).get(), size_), "v");
    EXPECT_EQ(minio_delete_file(m, url.get(), mut(file.c_str())), 0);
    EXPECT_EQ(minio_save_config(m, mut(port.c_str()), mut(file.c_str()), mut("c"), 1), 0);
    EXPECT_EQ(object("studio/u/configs/a/n/" + port + "/" + file), "c");

    const size_t before = calls().size();
    std::string out = capture_stdout([&] {
        for (const char* bad : {"..", ".", "", "a/b", "a\nb"}) {
            EXPECT_EQ(minio_save_file(m, mut("r"), mut("o"), mut(bad), mut("x"), 1), nullptr) << bad;
            EXPECT_EQ(minio_save_config(m, mut(bad), mut("f"), mut("x"), 1), -1) << bad;
            EXPECT_EQ(minio_load_config(m, nullptr, mut(bad), &buf_, &size_), -1) << bad;
            EXPECT_EQ(minio_delete_file(m, mut("studio/r"), mut(bad)), -1) << bad;
        }
        for (const char* url : {"studio/../../x", "../studio", "studio/a/./b", "other/x"})
            EXPECT_EQ(minio_load_file(m, mut(url), mut("f"), &buf_, &size_), -1) << url;
    });
    EXPECT_EQ(count_of(out, "Invalid"), 5 * 4 + 4) << out;
    EXPECT_EQ(calls().size(), before);
    EXPECT_FALSE(fs::exists("pwned") || fs::exists(tmp_ + "/pwned") || fs::exists(mc_ + "/pwned"));
    EXPECT_TRUE(tmp_empty());
    EXPECT_EQ(minio_deinit(m), 0);
}

// Registration fails cleanly: a missing parameter before mc runs, a refused secret, or a reply without
// "successfully". A front end whose registration failed refuses every operation.
TEST_F(Minio, FailedRegistrationLeavesOnlyRefusals) {
    const std::tuple<const char*, const char*, const char*, size_t> cases[] = {
        {"QB_STORAGE_MINIO_SECRET_KEY", nullptr, "Missing parameter --storage-minio-secret-key", 0},
        {"QB_NODE_ID", "..", "Invalid --node-id", 0},
        {"QB_STORAGE_MINIO_BUCKET_NAME", "-x", "Invalid --storage-minio-bucket-name", 0},
        {"QB_STORAGE_MINIO_SECRET_KEY", "wrong", "No result", 1},
        {"MC_STANDIN_SAY", "Configuration written", "Error:Configuration written\n", 1}};
    for (const auto& [var, value, line, runs] : cases) {
        ScopedEnv env(var, value);
        const size_t before = calls().size();
        std::string out = capture_stdout([&] { EXPECT_EQ(minio_init(), nullptr) << line; });
        EXPECT_NE(out.find(line), out.npos) << out;
        EXPECT_EQ(calls().size() - before, runs) << line;
    }
    ScopedEnv wrong("QB_STORAGE_MINIO_SECRET_KEY", "wrong");
    std::string out = capture_stdout([&] {
        QB_Storage s = qb_storage_init();
        ASSERT_NE(s, nullptr);
        expect_operations_refused(s);
        EXPECT_EQ(qb_storage_deinit(s), 0);
    });
    EXPECT_EQ(count_of(out, "Null handle\n"), 6) << out;
    EXPECT_EQ(calls().back().at(0), "config");
}

}  // namespace
