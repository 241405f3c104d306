// The MQTT owner against the real mosquitto broker the C tests use: lambdas
// get messages, deliveries and losses; failures come back as results.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "qb_mqtt.hpp"
#include "sdk_os.h"
#include "support/lines.h"
#include "support/mosquitto_broker.h"

namespace {

TEST(MqttCpp, RoundTripThroughLambdasFailuresAndTeardown) {
    qbtest::MosquittoBroker broker({"sensor", "s3cret"});
    ASSERT_TRUE(broker.running()) << broker.error();
    qbtest::Lines seen;
    auto mqtt = qb::MqttClient::create(
        broker.host(), broker.port(), "qb-cpp",
        {.on_message = [&](std::string_view t, std::string_view p) { seen.add(std::string(t) + "|" + std::string(p)); },
         .on_disconnected = [&](std::string_view cause) { seen.add("lost " + std::string(cause)); },
         .on_sent = [&] { seen.add("sent"); }});
    ASSERT_TRUE(mqtt);
    auto refused = mqtt->connect("sensor", "wrong");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, -1);
    EXPECT_STREQ(refused.error().function, "CMQTT_Connect_Server");
    ASSERT_TRUE(mqtt->connect("sensor", "s3cret"));
    ASSERT_TRUE(mqtt->subscribe("qb/cpp/#", 1));

    // Bytes go out whole; text stops at its first NUL.
    const std::string bytes("a\0b", 3);
    EXPECT_TRUE(mqtt->publish("qb/cpp/bin", bytes, 1));
    EXPECT_TRUE(mqtt->publish_text("qb/cpp/text", bytes, 0));
    EXPECT_TRUE(seen.wait_for("qb/cpp/bin|" + bytes));
    EXPECT_TRUE(seen.wait_for("qb/cpp/text|a"));
    EXPECT_TRUE(seen.wait_for("sent"));

    auto bad_port = qb::MqttClient::create(broker.host(), 65536, "qb-bad");
    ASSERT_FALSE(bad_port);
    EXPECT_STREQ(bad_port.error().function, "CMQTT_Init");
    qb::MqttClient moved = std::move(*mqtt);
    auto none = mqtt->subscribe("qb/cpp/#", 0);
    ASSERT_FALSE(none) << "moved-from";
    EXPECT_EQ(none.error().code, -1);
    EXPECT_TRUE(moved.publish("qb/cpp/moved", "m", 1));
    EXPECT_TRUE(seen.wait_for("qb/cpp/moved|m"));

    // Closed twice: the second close must not free the C client again.
    auto idle = qb::MqttClient::create(broker.host(), broker.port(), "qb-idle");
    ASSERT_TRUE(idle);
    EXPECT_TRUE(idle->close());
    EXPECT_TRUE(idle->close());

    // Destroyed while connected with messages arriving: its hooks go after the C client.
    std::atomic<int> got{0};
    {
        qb::MqttHooks count;
        count.on_message = [&](std::string_view, std::string_view) { ++got; };
        auto busy = qb::MqttClient::create(broker.host(), broker.port(), "qb-busy", std::move(count));
        ASSERT_TRUE(busy && busy->connect("sensor", "s3cret") && busy->subscribe("qb/busy", 0));
        for (int i = 0; i < 200; i++) ASSERT_TRUE(moved.publish("qb/busy", std::to_string(i), 0));
        for (int i = 0; i < 2000 && got == 0; i++) os_msleep(10);
        EXPECT_GT(got, 0);
    }

    broker.stop();
    EXPECT_TRUE(seen.wait_for("lost connection lost"));
}

}  // namespace
