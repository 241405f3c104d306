#include <unistd.h>

#include <fstream>
#include <memory>

#include "oss_storage.h"
#include "qb_storage.h"
#include "sdk_logger.h"
#include "support/peer_process.h"
#include "support/python_peer.h"
#include "support/redis_server.h"  // free_loopback_port
#include "support/storage_checks.h"
#include "support/test_support.h"

#if defined(__SANITIZE_ADDRESS__)
// Freed blocks held in quarantine would count as resident memory below.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
    return "quarantine_size_mb=0";
}
#endif

using namespace qbtest;

namespace {

using CStr = std::unique_ptr<char, decltype(&free)>;
CStr owned(char* s) { return CStr(s, free); }

// The pools live in memory mapped by APR, not in the malloc heap: count what is resident.
long resident_bytes() {
    long size = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// The backend against our OSS stand-in (tests/support/oss_server.py), which checks every signature with its
// own HMAC-SHA1 and logs one "REQ <status> <verb> /<bucket>/<key> <style> author=..." line per request.
class Oss : public ::testing::Test {
protected:
    Oss() {
        EXPECT_GT(port_, 0) << server_.output();
        requests();
    }
    std::string endpoint(const char* host) { return std::string(host) + ":" + std::to_string(port_); }
    // The server's lines since the last call.
    std::string requests() {
        std::string all = server_.output(), fresh = all.substr(seen_);
        seen_ = all.size();
        return fresh;
    }

    PeerProcess server_{{kSystemPython, "-u", QB_TEST_SOURCE_DIR "/support/oss_server.py", "AKID", "s3cr3t"}};
    const int port_ = server_.wait_for_port_line();
    size_t seen_ = 0;
    ScopedEnv param_{"QB_PARAM", nullptr}, mq_{"QB_MQ_TYPE", "redis"}, type_{"QB_STORAGE_TYPE", "oss"};
    ScopedEnv user_{"QB_USER_ID", "u"}, app_{"QB_APP_ID", "a"}, node_{"QB_NODE_ID", "n"};
    ScopedEnv bucket_{"QB_STORAGE_OSS_BUCKET_NAME", "qb-bucket"};
    ScopedEnv endpoint_{"QB_STORAGE_OSS_ENDPOINT", endpoint("http://127.0.0.1").c_str()};
    ScopedEnv id_{"QB_STORAGE_OSS_ACCESS_ID", "AKID"}, key_{"QB_STORAGE_OSS_ACCESS_KEY", "s3cr3t"};
    LogLevel level_{SDK_LOG_LEVEL_DEBUG};
    char* buf_ = nullptr;
    int size_ = 0;
};

// The worked examples through the front end, path style on an IP address and virtual-hosted on a name.
TEST_F(Oss, WorkedExamplesOnBothAddressingStyles) {
    for (const char* host : {"http://127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        const std::string style = host[0] == 'h' ? " path " : " vhost ";
        ScopedEnv ep("QB_STORAGE_OSS_ENDPOINT", endpoint(host).c_str());
        QB_Storage s = qb_storage_init();
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(static_cast<qb_storage*>(s)->type, QB_STORAGE_OSS);
        const std::string bin("a\0b\xff", 4);
        std::string out = capture_stdout([&] {
            CStr url = owned(qb_tmp_file_save(s, mut("r1"), mut("out1"), mut("x.bin"), mut(bin.data()), 4));
            ASSERT_STREQ(url.get(), "studio/u/tmp/a/r1/n/out1");
            ASSERT_EQ(qb_tmp_file_load(s, url.get(), mut("x.bin"), &buf_, &size_), 0);
            EXPECT_EQ(std::string(owned(buf_).get(), size_ + 1), bin + '\0');
            EXPECT_EQ(qb_tmp_file_delete(s, url.get(), mut("x.bin")), 0);
            EXPECT_EQ(qb_tmp_file_load(s, url.get(), mut("x.bin"), &buf_, &size_), -1);
        });
        EXPECT_EQ(count_of(out, "oss_save_file succeeded\n") + count_of(out, "oss_load_file succeeded\n") +
                      count_of(out, "oss_delete_file succeeded\n") + count_of(out, "oss_load_file failed\n"), 4)
            << out;
        const std::string x = " /qb-bucket/studio/u/tmp/a/r1/n/out1/x.bin" + style;
        EXPECT_EQ(requests(), "REQ 200 PUT" + x + "author=oss\nREQ 200 GET" + x + "author=\nREQ 204 DELETE" + x +
                                  "author=\nREQ 404 GET" + x + "author=\n");

        out = capture_stdout([&] {
            EXPECT_EQ(qb_config_save(s, mut("in1"), mut("c.json"), mut("{\"k\":1}"), 7), 0);
            ASSERT_EQ(qb_config_load(s, mut("in1"), mut("c.json"), &buf_, &size_), 0);
            EXPECT_EQ(std::string(owned(buf_).get()) + "/" + std::to_string(size_), "{\"k\":1}/7");
            EXPECT_EQ(qb_config_save(s, nullptr, mut("c.json"), nullptr, 0), 0);  // nothing to send
            ASSERT_EQ(qb_config_load(s, nullptr, mut("c.json"), &buf_, &size_), 0);
            EXPECT_EQ(std::string(owned(buf_).get()) + "/" + std::to_string(size_), "/0");
            EXPECT_EQ(qb_config_delete(s, mut("in1"), mut("c.json")), 0);
            EXPECT_EQ(qb_config_load(s, mut("in1"), mut("c.json"), &buf_, &size_), -1);
        });
        EXPECT_NE(out.find("oss_load_config failed\n"), out.npos) << out;
        const std::string r = requests();
        EXPECT_EQ(count_of(r, " /qb-bucket/studio/u/configs/a/n/in1/c.json" + style), 4) << r;
        EXPECT_EQ(count_of(r, "REQ 200 PUT /qb-bucket/studio/u/configs/a/n/c.json" + style + "author=oss"), 1) << r;
        EXPECT_EQ(qb_storage_deinit(s), 0);
    }
}

// Names from upstream messages travel percent-encoded and signed as they are; ".." and "/" never leave.
TEST_F(Oss, HostileNamesRoundTripOrAreRefused) {
    OSS_Handle h = oss_init();
    ASSERT_NE(h, nullptr);
    const std::string file = "it's; $(x) `y` \"q\" 100% #f ?q=1&b +p ü", port = "o';rm", req = "r$(id)";
    CStr url = owned(oss_save_file(h, mut(req.c_str()), mut(port.c_str()), mut(file.c_str()), mut("v"), 1));
    ASSERT_NE(url, nullptr);
    ASSERT_EQ(oss_load_file(h, url.get(), mut(file.c_str()), &buf_, &size_), 0);
    EXPECT_EQ(std::string(owned(buf_).get(), size_), "v");
    EXPECT_EQ(requests(), "REQ 200 PUT /qb-bucket/studio/u/tmp/a/" + req + "/n/" + port + "/" + file +
                              " path author=oss\nREQ 200 GET /qb-bucket/studio/u/tmp/a/" + req + "/n/" + port + "/" +
                              file + " path author=\n");
    std::string out = capture_stdout([&] {
        for (const char* bad : {"..", ".", "", "a/b"}) {
            EXPECT_EQ(oss_save_file(h, mut("r"), mut(bad), mut("f"), mut("x"), 1), nullptr) << bad;
            EXPECT_EQ(oss_delete_config(h, nullptr, mut(bad)), -1) << bad;
        }
        EXPECT_EQ(oss_load_file(h, mut("studio/../../x"), mut("f"), &buf_, &size_), -1);
    });
    EXPECT_EQ(count_of(out, "Invalid"), 9) << out;
    EXPECT_EQ(oss_deinit(h), 0);
    EXPECT_EQ(requests(), "");
}

// Failures: a wrong secret (403), no server, missing or invalid parameters, and a front end whose backend
// could not be created; none crashes, each is reported.
TEST_F(Oss, FailuresAreReportedNotCrashes) {
    {
        ScopedEnv wrong("QB_STORAGE_OSS_ACCESS_KEY", "guess");
        OSS_Handle h = oss_init();
        std::string out = capture_stdout([&] { EXPECT_EQ(oss_save_config(h, nullptr, mut("c"), mut("x"), 1), -1); });
        EXPECT_NE(out.find("SignatureDoesNotMatch"), out.npos) << out;
        EXPECT_NE(out.find("oss_save_config failed\n"), out.npos) << out;
        oss_deinit(h);
    }
    {
        const std::string closed = "127.0.0.1:" + std::to_string(free_loopback_port());
        ScopedEnv gone("QB_STORAGE_OSS_ENDPOINT", closed.c_str());
        OSS_Handle h = oss_init();
        std::string out = capture_stdout([&] { EXPECT_EQ(oss_load_config(h, nullptr, mut("c"), &buf_, &size_), -1); });
        EXPECT_NE(out.find("oss_load_config failed\n"), out.npos) << out;
        oss_deinit(h);
    }
    const std::pair<const char*, const char*> bad[] = {{"QB_STORAGE_OSS_ACCESS_KEY", nullptr},
                                                       {"QB_STORAGE_OSS_BUCKET_NAME", "Qb_Bucket"},
                                                       {"QB_STORAGE_OSS_ENDPOINT", ""},
                                                       {"QB_APP_ID", ".."}};
    for (const auto& [var, value] : bad) {
        ScopedEnv env(var, value);
        std::string out = capture_stdout([&] { EXPECT_EQ(oss_init(), nullptr) << var; });
        QB_Storage s = nullptr;
        out += capture_stdout([&] {
            s = qb_storage_init();
            ASSERT_NE(s, nullptr);
            expect_operations_refused(s);
            EXPECT_EQ(qb_storage_deinit(s), 0);
        });
        EXPECT_EQ(count_of(out, "OSS handle NULL\n"), 7) << out;
    }
    EXPECT_EQ(requests().find(" 200 "), std::string::npos);
}

// Handles are independent: closing one leaves the HTTP layer to the other. Each operation's memory is
// released when it ends, so repeated loads of a large object do not pile up.
TEST_F(Oss, HandlesAreIndependentAndOperationsReleaseTheirMemory) {
    OSS_Handle first = oss_init(), second = oss_init();
    ASSERT_TRUE(first && second);
    const std::string big(4 << 20, 'z');
    EXPECT_EQ(oss_save_config(first, nullptr, mut("big"), mut(big.data()), static_cast<int>(big.size())), 0);
    EXPECT_EQ(oss_deinit(first), 0);
    auto load = [&] {
        ASSERT_EQ(oss_load_config(second, nullptr, mut("big"), &buf_, &size_), 0);
        EXPECT_EQ(size_, static_cast<int>(big.size()));
        free(buf_);
    };
    load();
    const long settled = resident_bytes();
    for (int i = 0; i < 8; ++i) load();
    const long grown = resident_bytes() - settled;
    EXPECT_LT(grown, static_cast<long>(2 * big.size())) << "grew by " << grown;
    EXPECT_EQ(oss_deinit(second), 0);
}

}  // namespace
