// Emits on a session whose server is absent: packets wait in the resend
// buffer, where their text and attachments can be checked.

#include <string>

#include "net/socketio/socketio_internal.h"
#include "sdk_logger.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace {
using qbtest::mut;

class SocketIoTx : public testing::Test {
protected:
    void SetUp() override {
        // Reconnection on (emits need it), with pauses far longer than the test.
        ctx_ = static_cast<sio_context*>(SIO_Client_Init(mut("127.0.0.1"), qbtest::free_loopback_port(), nullptr,
                                                         nullptr, nullptr, sio_reconnect{1, 5, 60000, 60000, 600000}));
        ASSERT_NE(ctx_, nullptr);
        ASSERT_EQ(SIO_Client_Start(ctx_, &hooks_), 0);
    }
    void TearDown() override { EXPECT_EQ(SIO_Client_Close(ctx_), 0); }

    std::string slot(int level, int k) {
        std::lock_guard<std::mutex> lock(ctx_->mu);
        const auto& s = ctx_->buffer[level][k];
        return s.buffer ? std::string(s.namespace_) + "|" + s.buffer : "free";
    }
    int used(int level) {
        std::lock_guard<std::mutex> lock(ctx_->mu);
        int n = 0;
        for (const auto& s : ctx_->buffer[level]) n += s.buffer != nullptr;
        return n;
    }

    sio_context* ctx_ = nullptr;
    sio_client_cb_param hooks_{};
};

TEST_F(SocketIoTx, PacketTextsAndMessageIds) {
    int id = -5;
    EXPECT_EQ(SIO_Client_Emit(ctx_, mut("ping"), nullptr, SIO_QOS_HIGH, 1, &id, nullptr), 0);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(SIO_Client_Emit(ctx_, mut("plain"), mut("{\"a\":1}"), SIO_QOS_HIGH, 0, &id, nullptr), 0);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(SIO_Client_Emit(ctx_, mut("second"), nullptr, SIO_QOS_HIGH, 1, &id, nullptr), 0);
    EXPECT_EQ(id, 1);
    ctx_->tx_message_id = 12;
    EXPECT_EQ(SIO_Client_Emit(ctx_, mut("message"), mut("hello"), SIO_QOS_MID, 1, &id, mut("/chat")), 0);
    char bytes[] = {'\0', 'z'};
    sio_payload bin[] = {{mut("t"), 0}, {bytes, 2}, {bytes, 1}};
    EXPECT_EQ(SIO_Client_Emit_Ex(ctx_, mut("{\"n\":1}"), bin, 3, SIO_QOS_LOW, 0, nullptr, nullptr), 0);

    EXPECT_EQ(slot(0, 0), "|420[\"ping\"]");
    EXPECT_EQ(slot(0, 1), "|42[\"plain\",{\"a\":1}]");
    EXPECT_EQ(slot(0, 2), "|421[\"second\"]");
    EXPECT_EQ(slot(1, 0), "/chat|42/chat,12[\"message\",\"hello\"]");
    EXPECT_EQ(slot(2, 0),
              "|452-[{\"n\":1},\"t\",{\"_placeholder\":true,\"num\":0},{\"_placeholder\":true,\"num\":1}]");
    std::lock_guard<std::mutex> lock(ctx_->mu);
    const auto& a = ctx_->buffer[2][0].attachments;
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0], std::string("\x04\0z", 3));
    EXPECT_EQ(a[1], std::string("\x04\0", 2));
}

TEST_F(SocketIoTx, RefusalsLimitsAndFailedResends) {
    sio_payload one{mut("x"), 0};
    const std::string ns48 = "/" + std::string(47, 'n');
    EXPECT_EQ(SIO_Client_Emit(ctx_, mut("e"), nullptr, 3, 0, nullptr, nullptr), -1);
    EXPECT_EQ(SIO_Client_Emit(ctx_, mut("e"), nullptr, -1, 0, nullptr, nullptr), -1);
    EXPECT_EQ(SIO_Client_Emit_Ex(ctx_, mut("e"), nullptr, 1, SIO_QOS_HIGH, 0, nullptr, nullptr), -1);
    EXPECT_EQ(SIO_Client_Emit_Ex(ctx_, mut("e"), &one, -1, SIO_QOS_HIGH, 0, nullptr, nullptr), -1);
    EXPECT_EQ(SIO_Client_Emit(ctx_, mut("e"), nullptr, SIO_QOS_HIGH, 0, nullptr, mut((ns48 + "x").c_str())), -1);
    EXPECT_EQ(SIO_Client_Emit(nullptr, mut("e"), nullptr, SIO_QOS_HIGH, 0, nullptr, nullptr), -1);
    EXPECT_EQ(used(0), 0);
    EXPECT_EQ(SIO_Client_Emit(ctx_, mut("long"), nullptr, SIO_QOS_HIGH, 0, nullptr, mut(ns48.c_str())), 0);
    EXPECT_EQ(slot(0, 0), ns48 + "|42" + ns48 + ",[\"long\"]");

    // A full level refuses; the others still take packets.
    std::string log = qbtest::capture_stdout([&] {
        for (int k = 0; k < SIO_TX_BUFFER_SIZE; k++)
            ASSERT_EQ(SIO_Client_Emit(ctx_, mut("low"), nullptr, SIO_QOS_LOW, 0, nullptr, nullptr), 0);
        EXPECT_EQ(SIO_Client_Emit(ctx_, mut("low"), nullptr, SIO_QOS_LOW, 0, nullptr, nullptr), -1);
    });
    EXPECT_EQ(qbtest::count_of(log, "tx buffer full!"), 1);
    EXPECT_EQ(SIO_Client_Emit(ctx_, mut("high"), nullptr, SIO_QOS_HIGH, 0, nullptr, nullptr), 0);
    EXPECT_EQ(SIO_Client_Emit(ctx_, mut("mid"), nullptr, SIO_QOS_MID, 0, nullptr, nullptr), 0);

    // Resending with no connection fails: level 0 keeps its packets, levels 1 and 2 lose theirs,
    // packets of another namespace wait for it.
    EXPECT_EQ(SocketIO_TX_Buffered_Data(ctx_, nullptr), 0);
    EXPECT_EQ(slot(0, 1), "|42[\"high\"]");
    EXPECT_EQ(used(1), 0);
    EXPECT_EQ(used(2), 0);
    EXPECT_EQ(slot(0, 0), ns48 + "|42" + ns48 + ",[\"long\"]");
    EXPECT_EQ(SocketIO_TX_Buffered_Data(ctx_, mut(ns48.c_str())), 0);
    EXPECT_EQ(used(0), 2);

    // Stopped: refused, nothing buffered.
    EXPECT_EQ(SIO_Client_Stop(ctx_), 0);
    EXPECT_EQ(SIO_Client_Emit(ctx_, mut("late"), nullptr, SIO_QOS_MID, 0, nullptr, nullptr), -1);
    EXPECT_EQ(used(1), 0);
}

}  // namespace
