// Frames fed straight to the receive path of a session that is never started:
// every frame sits in a heap block of exactly its length plus the NUL the
// WebSocket client adds, so a read or write past it shows under ASan.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/socketio/sio_recorder.h"
#include "net/socketio/socketio_internal.h"
#include "support/test_support.h"

namespace {
using qbtest::mut;
using Lines = std::vector<std::string>;

class SocketIoRx : public testing::Test {
protected:
    void SetUp() override {
        ctx_ = static_cast<sio_context*>(
            SIO_Client_Init(mut("127.0.0.1"), 1, nullptr, nullptr, mut("/chat"), sio_reconnect{}));
        ASSERT_NE(ctx_, nullptr);
        ctx_->callback = &rec_.hooks;
    }
    void TearDown() override { SIO_Client_Close(ctx_); }

    // Hook lines reported for one frame.
    Lines feed(const std::string& frame) {
        std::unique_ptr<char[]> buf(new char[frame.size() + 1]);
        memcpy(buf.get(), frame.data(), frame.size());
        buf[frame.size()] = 0;
        engine_io_process(ctx_, reinterpret_cast<engine_io_packet*>(buf.get()), static_cast<int>(frame.size()));
        return rec_.take();
    }

    sio_context* ctx_ = nullptr;
    qbtest::SioRecorder rec_;
};

TEST_F(SocketIoRx, EngineIoPacketsAndSessionEvents) {
    EXPECT_EQ(feed(R"(0{"sid":"abc","pingInterval":25000,"pingTimeout":60000})"), Lines{});
    EXPECT_EQ(ctx_->ping_interval, 25000);
    feed(R"(0{"sid":"abc","pingInterval":0})");
    feed("0{not json");
    EXPECT_EQ(ctx_->ping_interval, 25000);

    EXPECT_EQ(feed("2"), Lines{"- ping"});
    EXPECT_EQ(feed("3"), Lines{"- pong"});
    EXPECT_EQ(feed("40"), Lines{"- connect"});
    EXPECT_EQ(feed("40/chat,"), Lines{"/chat connect"});
    EXPECT_EQ(feed("44"), Lines{"- error"});
    EXPECT_EQ(ctx_->reconnect.trigger, 0);
    EXPECT_EQ(feed("41"), Lines{"- disconnect"});
    EXPECT_EQ(ctx_->reconnect.trigger, 1);
    EXPECT_EQ(feed("1"), Lines{"- disconnect"});
    // Binary events and acks, unknown codes and empty packets report nothing.
    for (const char* f : {"", "4", "9", "451-[\"b\",{\"_placeholder\":true,\"num\":0}]", "46", "47"})
        EXPECT_EQ(feed(f), Lines{}) << f;
}

TEST_F(SocketIoRx, EventsAndAcksOnBothNamespaces) {
    EXPECT_EQ(feed(R"(42["message",{"a":1},"x"])"), Lines{R"(- message {"a":1} x)"});
    EXPECT_EQ(feed(R"(42/chat,7["ask","q"])"), Lines{"/chat ask q #7"});
    EXPECT_EQ(feed("43/chat,3[]"), Lines{"/chat - #3"});
    EXPECT_EQ(feed(R"(437["ok"])"), Lines{"- ok #7"});
    EXPECT_EQ(feed(R"(4212["ask",{"q":1}])"), Lines{R"(- ask {"q":1} #12)"});
    EXPECT_EQ(feed(R"(42/chat,["e"])"), Lines{"/chat e"});
    EXPECT_EQ(feed(R"(42[{"k":"v"},"a"])"), Lines{R"(- {"k":"v"} a)"});
    EXPECT_EQ(feed(R"(42["e","say \"hi\" \"",""])"), Lines{R"(- e say \"hi\" \" )"});
    // Numbers end the arguments; those before them are kept.
    EXPECT_EQ(feed(R"(42["e",5])"), Lines{"- e"});
    EXPECT_EQ(feed(R"(42["e","a",true,"b"])"), Lines{"- e a"});
    EXPECT_EQ(feed("42"), Lines{"- -"});
}

TEST_F(SocketIoRx, HostileFramesStayInsideTheFrame) {
    // Strings inside objects may hold braces; a quote after an escaped backslash closes the string.
    EXPECT_EQ(feed(R"(42["e",{"s":"}{\"}"},"x"])"), Lines{R"(- e {"s":"}{\"}"} x)"});
    EXPECT_EQ(feed(R"(42["e","a\\","b"])"), Lines{R"(- e a\\ b)"});
    EXPECT_EQ(feed(R"(42[{"s":"\\"},"b"])"), Lines{R"(- {"s":"\\"} b)"});

    // Truncated or malformed: dropped, or delivered up to where the text ends.
    for (const char* f : {R"(42["e)", R"(42["e","x)", R"(42["e",{"a":{"b":1})", R"(42["e",{"s":"}"])", "42/chat",
                          "42/chat,12", "43/chat,3[", "42[", "42[5]", "42x", "4299999999999[\"e\"]", R"(42[{"a":1)"})
        EXPECT_EQ(feed(f), Lines{}) << f;
    EXPECT_EQ(feed(R"(42["e",)"), Lines{"- e"});
    EXPECT_EQ(feed(R"(42["e","x")"), Lines{"- e x"});

    // The 100th argument ends the parse; the first 99 are delivered.
    std::string many = R"(42["many")", expect = "- many";
    for (int k = 0; k < 150; k++) {
        many += ",\"" + std::to_string(k) + "\"";
        if (k < 99) expect += " " + std::to_string(k);
    }
    EXPECT_EQ(feed(many + "]"), Lines{expect});
}

}  // namespace
