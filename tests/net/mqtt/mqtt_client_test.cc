// The MQTT client against a real mosquitto broker, with mosquitto_pub and
// mosquitto_sub on the other side.
#include "mqtt_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "sdk_logger.h"
#include "sdk_os.h"
#include "support/mosquitto_broker.h"
#include "support/peer_process.h"
#include "support/test_support.h"

namespace {
using qbtest::MosquittoBroker;
using qbtest::mut;

// What the callbacks saw, with waits bounded generously for a loaded machine.
struct Sink {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<std::string> messages;  // "topic|topic_len|payload"
    std::vector<std::string> causes;
    int sent = 0;
    cmqtt_callback cb{};

    Sink() {
        cb.param = this;
        cb.callback = [](void* p, char* topic, int topic_len, char* payload, int len) {
            auto* s = static_cast<Sink*>(p);
            std::lock_guard<std::mutex> l(s->mu);
            s->messages.push_back(std::string(topic, topic_len) + "|" + std::to_string(topic_len) + "|" +
                                  std::string(payload, len));
            s->cv.notify_all();
            return 0;
        };
        cb.disconnected = [](void* p, char* cause) {
            auto* s = static_cast<Sink*>(p);
            std::lock_guard<std::mutex> l(s->mu);
            s->causes.push_back(cause ? cause : "");
            s->cv.notify_all();
            return 0;
        };
        cb.sent = [](void* p) {
            auto* s = static_cast<Sink*>(p);
            std::lock_guard<std::mutex> l(s->mu);
            s->sent++;
            s->cv.notify_all();
            return 0;
        };
    }
    template <typename Pred>
    bool wait(Pred pred) {
        std::unique_lock<std::mutex> l(mu);
        return cv.wait_for(l, std::chrono::seconds(15), [&] { return pred(*this); });
    }
};

// program followed by the broker's client arguments and more.
// Line-buffered, so a test sees each line as it is printed.
std::vector<std::string> cmd(const char* program, const MosquittoBroker& b, std::initializer_list<std::string> more) {
    std::vector<std::string> argv{"stdbuf", "-oL", program};
    const auto args = b.client_args();
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), more);
    return argv;
}

// Runs a mosquitto client program to its end; its output.
std::string run_client(const std::vector<std::string>& argv) {
    qbtest::PeerProcess p(argv);
    for (int i = 0; i < 1500 && p.running(); ++i) os_msleep(10);
    return p.output();
}

// mosquitto_sub printing "MSG topic retained length payload" for count messages; returned once subscribed.
std::unique_ptr<qbtest::PeerProcess> subscriber(const MosquittoBroker& b, const std::string& topic, int count) {
    auto p = std::make_unique<qbtest::PeerProcess>(
        cmd("mosquitto_sub", b, {"-d", "-t", topic, "-q", "1", "-C", std::to_string(count), "-F", "MSG %t %r %l %p"}));
    EXPECT_TRUE(p->wait_for_output("SUBACK")) << p->output();
    return p;
}

struct Client {
    CMQTT_Handle h = nullptr;
    Client(const std::string& host, int port, const char* id, cmqtt_callback* cb) {
        h = CMQTT_Init(mut(host.c_str()), port, mut(id), cb);
    }
    ~Client() {
        if (h) CMQTT_Deinit(h);
    }
};

TEST(Mqtt, PublishesAndReceivesThroughTheBroker) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running()) << broker.error();
    Sink sink;
    Client c(broker.host(), broker.port(), "qb-test-1", &sink.cb);
    ASSERT_NE(c.h, nullptr);
    ASSERT_EQ(CMQTT_Connect_Server(c.h, nullptr, nullptr, 0), 0);
    ASSERT_EQ(CMQTT_Subscribe(c.h, mut("qb/in"), 1), 0);

    run_client(cmd("mosquitto_pub", broker, {"-t", "qb/in", "-m", "hello", "-q", "1"}));
    ASSERT_TRUE(sink.wait([](Sink& s) { return !s.messages.empty(); }));
    EXPECT_EQ(sink.messages[0], "qb/in|5|hello");

    // Text without its terminator, binary as given, never retained; QoS 1 reports each delivery.
    auto sub = subscriber(broker, "qb/out", 2);
    EXPECT_EQ(CMQTT_Send_Data(c.h, mut("qb/out"), mut("abc"), 1), 0);
    char bin[] = {'x', 0, 'y'};
    EXPECT_EQ(CMQTT_Send_Binary_Data(c.h, mut("qb/out"), bin, 3, 0), 0);
    EXPECT_TRUE(sub->wait_for_output("MSG qb/out 0 3 abc\n")) << sub->output();
    EXPECT_TRUE(sub->wait_for_output("MSG qb/out 0 3 x")) << sub->output();
    EXPECT_TRUE(sink.wait([](Sink& s) { return s.sent >= 1; }));
}

TEST(Mqtt, QosOnePublishesArriveAllAndInOrder) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running()) << broker.error();
    Sink sink;
    Client c(broker.host(), broker.port(), "qb-test-order", &sink.cb);
    ASSERT_EQ(CMQTT_Connect_Server(c.h, nullptr, nullptr, 0), 0);
    auto sub = subscriber(broker, "qb/seq", 60);
    // QoS 0 between QoS 1 messages keeps its place too.
    for (int i = 0; i < 60; ++i) ASSERT_EQ(CMQTT_Send_Data(c.h, mut("qb/seq"), mut(std::to_string(i).c_str()), i % 3 ? 1 : 0), 0);
    ASSERT_TRUE(sub->wait_for_output("MSG qb/seq 0 2 59\n", 20000)) << sub->output();
    std::string expected;
    for (int i = 0; i < 60; ++i) expected += "MSG qb/seq 0 " + std::to_string(std::to_string(i).size()) + " " + std::to_string(i) + "\n";
    std::string got;
    const std::string out = sub->output();
    for (size_t at = out.find("MSG "); at != std::string::npos; at = out.find("MSG ", at + 1))
        got += out.substr(at, out.find('\n', at) - at + 1);
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(sink.wait([](Sink& s) { return s.sent == 40; }));
}

TEST(Mqtt, PasswordIsCheckedAndLossIsReported) {
    MosquittoBroker broker({"sensor", "s3cret", false});
    ASSERT_TRUE(broker.running()) << broker.error();
    Sink sink;
    Client c(broker.host(), broker.port(), "qb-test-auth", &sink.cb);
    std::string out = qbtest::capture_stdout([&] { EXPECT_EQ(CMQTT_Connect_Server(c.h, mut("sensor"), mut("wrong"), 0), -1); });
    EXPECT_NE(out.find("Connect failed return code: "), std::string::npos) << out;
    ASSERT_EQ(CMQTT_Connect_Server(c.h, mut("sensor"), mut("s3cret"), 0), 0);

    broker.stop();
    ASSERT_TRUE(sink.wait([](Sink& s) { return !s.causes.empty(); }));
    // No automatic reconnection: the application connects again.
    ASSERT_TRUE(broker.restart()) << broker.error();
    ASSERT_EQ(CMQTT_Connect_Server(c.h, mut("sensor"), mut("s3cret"), 0), 0);
    ASSERT_EQ(CMQTT_Subscribe(c.h, mut("qb/back"), 0), 0);
    run_client(cmd("mosquitto_pub", broker, {"-t", "qb/back", "-m", "again"}));
    EXPECT_TRUE(sink.wait([](Sink& s) { return !s.messages.empty(); }));
}

TEST(Mqtt, TlsUsesTheTrustStoreAndNeverFallsBackToClearText) {
    MosquittoBroker tls_broker({"", "", true});
    ASSERT_TRUE(tls_broker.running()) << tls_broker.error();
    MosquittoBroker plain_broker;
    ASSERT_TRUE(plain_broker.running()) << plain_broker.error();
    qbtest::TempDir dir;
    qbtest::ScopedChdir cd(dir.path());

    // No trust store under the working directory.
    Sink sink;
    Client c(plain_broker.host(), tls_broker.port(), "qb-test-tls", &sink.cb);  // "tcp://": TLS is asked by the flag
    std::string out = qbtest::capture_stdout([&] { EXPECT_EQ(CMQTT_Connect_Server(c.h, nullptr, nullptr, 1), -1); });
    EXPECT_NE(out.find("Connect failed return code: "), std::string::npos) << out;

    std::filesystem::create_directory(dir.file("cert"));
    std::filesystem::copy_file(tls_broker.ca_file(), dir.file("cert/DigiCert.cer"));
    ASSERT_EQ(CMQTT_Connect_Server(c.h, nullptr, nullptr, 1), 0);
    ASSERT_EQ(CMQTT_Subscribe(c.h, mut("qb/tls"), 1), 0);
    run_client(cmd("mosquitto_pub", tls_broker, {"-t", "qb/tls", "-m", "sealed", "-q", "1"}));
    ASSERT_TRUE(sink.wait([](Sink& s) { return !s.messages.empty(); }));
    EXPECT_EQ(sink.messages[0], "qb/tls|6|sealed");

    // Asking for TLS from a broker that only speaks clear text fails instead of connecting in clear.
    Client clear(plain_broker.host(), plain_broker.port(), "qb-test-clear", nullptr);
    EXPECT_EQ(CMQTT_Connect_Server(clear.h, nullptr, nullptr, 1), -1);
    EXPECT_EQ(CMQTT_Connect_Server(clear.h, nullptr, nullptr, 0), 0);
}

TEST(Mqtt, MessagesWithoutAMessageCallbackAreConsumed) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running()) << broker.error();
    qbtest::LogLevel verbose(SDK_LOG_LEVEL_VERBOSE);
    sdk_set_log_buffer(1, 500);
    Sink sink;
    cmqtt_callback partial = sink.cb;
    partial.callback = nullptr;  // only the other two hooks
    Client a(broker.host(), broker.port(), "qb-test-nocb", &partial);
    Client b(broker.host(), broker.port(), "qb-test-norecord", nullptr);
    for (Client* c : {&a, &b}) {
        ASSERT_EQ(CMQTT_Connect_Server(c->h, nullptr, nullptr, 0), 0);
        ASSERT_EQ(CMQTT_Subscribe(c->h, mut("qb/void"), 0), 0);
    }
    run_client(cmd("mosquitto_pub", broker, {"-t", "qb/void", "-m", "ping"}));
    bool both = false;
    for (int i = 0; i < 1500 && !both; ++i) {
        char* log = sdk_get_log_buffer();
        both = log && qbtest::count_of(log, "MQTT Message arrived, payload=ping len=4") == 2;
        free(log);
        if (!both) os_msleep(10);
    }
    sdk_set_log_buffer(0, 0);
    EXPECT_TRUE(both);
    EXPECT_TRUE(sink.messages.empty());
}

TEST(Mqtt, RefusedArguments) {
    const std::string host190 = "tcp://" + std::string(184, 'h');
    CMQTT_Handle h = CMQTT_Init(mut(host190.c_str()), 1883, mut("qb-long"), nullptr);
    EXPECT_NE(h, nullptr);
    CMQTT_Deinit(h);
    std::string out = qbtest::capture_stdout([&] {
        EXPECT_EQ(CMQTT_Init(mut((host190 + "h").c_str()), 1883, mut("qb-long"), nullptr), nullptr);
        // A port outside 0-65535 is refused rather than formatted past the URI buffer.
        EXPECT_EQ(CMQTT_Init(mut(host190.c_str()), -2147483647 - 1, mut("qb-port"), nullptr), nullptr);
        EXPECT_EQ(CMQTT_Init(mut("tcp://127.0.0.1"), 65536, mut("qb-port"), nullptr), nullptr);
    });
    EXPECT_NE(out.find("Host too long, dont attack me"), std::string::npos);

    out = qbtest::capture_stdout([&] {
        EXPECT_EQ(CMQTT_Connect_Server(nullptr, nullptr, nullptr, 0), -1);
        EXPECT_EQ(CMQTT_Subscribe(nullptr, mut("t"), 0), -1);
        EXPECT_EQ(CMQTT_Send_Binary_Data(nullptr, mut("t"), mut("x"), 1, 0), -1);
        EXPECT_EQ(CMQTT_Send_Data(nullptr, mut("t"), mut("x"), 0), -1);
        EXPECT_EQ(CMQTT_Deinit(nullptr), -1);
    });
    for (const char* op : {"CMQTT_Connect_Server", "CMQTT_Subscribe", "CMQTT_Send_Binary_Data", "CMQTT_Send_Data", "CMQTT_Deinit"})
        EXPECT_NE(out.find(std::string(op) + " No MQTT Client\n"), std::string::npos) << op;

    h = CMQTT_Init(mut("tcp://127.0.0.1"), 1883, mut("qb-topic"), nullptr);
    out = qbtest::capture_stdout([&] { EXPECT_EQ(CMQTT_Subscribe(h, nullptr, 0), -1); });
    EXPECT_NE(out.find("CMQTT_Subscribe Null topic!"), std::string::npos);
    CMQTT_Deinit(h);
}

}  // namespace
