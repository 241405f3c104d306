// The MQTT client against a real mosquitto broker, with mosquitto_pub and mosquitto_sub on the other side.
#include "mqtt_client.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <sstream>

#include "sdk_logger.h"
#include "sdk_os.h"
#include "support/mosquitto_broker.h"
#include "support/test_support.h"

namespace {
using qbtest::mut;

// What the callbacks saw: "topic|payload" per message, connection losses and deliveries.
struct Sink {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<std::string> got;
    int lost = 0, sent = 0;
    cmqtt_callback cb{[](void* p, char* t, int tlen, char* d, int len) { return static_cast<Sink*>(p)->note(std::string(t, tlen) + "|" + std::string(d, len)); },
                      [](void* p, char*) { return static_cast<Sink*>(p)->note("", 1); },
                      [](void* p) { return static_cast<Sink*>(p)->note("", 0, 1); }, this};
    int note(const std::string& m, int l = 0, int s = 0) {
        std::lock_guard<std::mutex> lock(mu);
        if (!m.empty()) got.push_back(m);
        lost += l, sent += s;
        cv.notify_all();
        return 0;
    }
    bool wait(const std::function<bool()>& pred) {
        std::unique_lock<std::mutex> lock(mu);
        return cv.wait_for(lock, std::chrono::seconds(15), pred);
    }
};

int publish(const qbtest::MosquittoBroker& b, const char* topic, const char* text) {
    return qbtest::PeerProcess(b.client("mosquitto_pub", {"-t", topic, "-m", text, "-q", "1"})).finish();
}

TEST(Mqtt, ExchangesInOrderWithPasswordAndReportsLoss) {
    qbtest::MosquittoBroker broker({"sensor", "s3cret"});
    ASSERT_TRUE(broker.running()) << broker.error();
    Sink sink;
    CMQTT_Handle h = CMQTT_Init(mut(broker.host().c_str()), broker.port(), mut("qb-1"), &sink.cb);
    const std::string out = qbtest::capture_stdout([&] { EXPECT_EQ(CMQTT_Connect_Server(h, mut("sensor"), mut("wrong"), 0), -1); });
    EXPECT_NE(out.find("Connect failed return code: "), std::string::npos) << out;
    // Two more clients whose records have no message callback: they consume without a call.
    cmqtt_callback none{};
    CMQTT_Handle hs[] = {h, CMQTT_Init(mut(broker.host().c_str()), broker.port(), mut("qb-2"), &none),
                         CMQTT_Init(mut(broker.host().c_str()), broker.port(), mut("qb-3"), nullptr)};
    for (CMQTT_Handle c : hs) ASSERT_TRUE(CMQTT_Connect_Server(c, mut("sensor"), mut("s3cret"), 0) == 0 && CMQTT_Subscribe(c, mut("qb/in"), 1) == 0);
    qbtest::LogLevel verbose(SDK_LOG_LEVEL_VERBOSE);
    sdk_set_log_buffer(1, 100);
    EXPECT_EQ(publish(broker, "qb/in", "hello"), 0);
    ASSERT_TRUE(sink.wait([&] { return !sink.got.empty(); }));
    EXPECT_EQ(sink.got[0], "qb/in|hello");
    int arrived = 0;
    for (int i = 0; i < 1500 && arrived < 3; ++i, os_msleep(10)) {
        char* log = sdk_get_log_buffer();
        arrived = qbtest::count_of(log ? log : "", "MQTT Message arrived, payload=hello len=5");
        free(log);
    }
    sdk_set_log_buffer(0, 0);
    EXPECT_EQ(arrived, 3);
    EXPECT_EQ(CMQTT_Deinit(hs[1]) | CMQTT_Deinit(hs[2]), 0);

    // Text without its terminator, never retained; QoS 0 and QoS 1 interleaved keep their order.
    qbtest::PeerProcess sub(broker.client("mosquitto_sub", {"-d", "-t", "qb/out", "-q", "1", "-C", "30", "-F", "%r %l %p"}));
    ASSERT_TRUE(sub.wait_for_output("SUBACK")) << sub.output();
    std::string expected, got;
    for (int i = 0; i < 30; ++i) {
        std::string text = "m" + std::to_string(i);
        expected += "0 " + std::to_string(text.size()) + " " + text + "\n";
        ASSERT_EQ(CMQTT_Send_Data(h, mut("qb/out"), text.data(), i % 3 ? 1 : 0), 0);
    }
    EXPECT_EQ(sub.finish(), 0);
    std::istringstream lines(sub.output());
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("0 ", 0) == 0) got += line + "\n";  // not -d's lines
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(sink.wait([&] { return sink.sent == 20; }));
    broker.stop();
    EXPECT_TRUE(sink.wait([&] { return sink.lost == 1; }));
    CMQTT_Deinit(h);
}

TEST(Mqtt, TlsUsesTheTrustStoreAndNeverFallsBackToClearText) {
    qbtest::MosquittoBroker tls({"", "", true}), plain;
    ASSERT_TRUE(tls.running() && plain.running()) << tls.error() << plain.error();
    qbtest::TempDir dir;
    qbtest::ScopedChdir cd(dir.path());
    Sink sink;
    // A "tcp://" host: TLS is asked for by the flag alone.
    CMQTT_Handle h = CMQTT_Init(mut(plain.host().c_str()), tls.port(), mut("qb-tls"), &sink.cb);
    EXPECT_EQ(CMQTT_Connect_Server(h, nullptr, nullptr, 1), -1);  // no trust store yet
    std::filesystem::create_directory(dir.file("cert"));
    std::filesystem::copy_file(tls.ca_file(), dir.file("cert/DigiCert.cer"));
    ASSERT_EQ(CMQTT_Connect_Server(h, nullptr, nullptr, 1), 0);
    ASSERT_EQ(CMQTT_Subscribe(h, mut("qb/tls"), 1), 0);
    EXPECT_EQ(publish(tls, "qb/tls", "sealed"), 0);
    EXPECT_TRUE(sink.wait([&] { return !sink.got.empty(); }));
    CMQTT_Deinit(h);
    h = CMQTT_Init(mut(plain.host().c_str()), plain.port(), mut("qb-clear"), nullptr);
    EXPECT_EQ(CMQTT_Connect_Server(h, nullptr, nullptr, 1), -1);  // a clear-text broker
    EXPECT_EQ(CMQTT_Connect_Server(h, nullptr, nullptr, 0), 0);   // in clear only when asked
    CMQTT_Deinit(h);
}

TEST(Mqtt, RefusedArguments) {
    const std::string host = "tcp://" + std::string(184, 'h');  // 190 characters
    CMQTT_Handle h = CMQTT_Init(mut(host.c_str()), 65535, mut("qb-long"), nullptr);
    const std::string out = qbtest::capture_stdout([&] {
        EXPECT_EQ(CMQTT_Init(mut((host + "h").c_str()), 1883, mut("qb"), nullptr), nullptr);
        for (int port : {-2147483647 - 1, 65536}) EXPECT_EQ(CMQTT_Init(mut(host.c_str()), port, mut("qb"), nullptr), nullptr);
        EXPECT_EQ(CMQTT_Subscribe(h, nullptr, 0), -1);
        EXPECT_EQ(CMQTT_Send_Data(nullptr, mut("t"), mut("x"), 0), -1);
    });
    for (const char* line : {"Host too long, dont attack me", "CMQTT_Subscribe Null topic!", "CMQTT_Send_Data No MQTT Client"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
    EXPECT_NE(h, nullptr);
    CMQTT_Deinit(h);
}

}  // namespace
