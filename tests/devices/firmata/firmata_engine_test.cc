// The Firmata engine on a pseudo-terminal: what it sends, byte for byte, and
// what it makes of the bytes a board sends (fed to the parser directly).
#include "firmata.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/pty_pair.h"
#include "support/test_support.h"

namespace {
using qbtest::capture_stdout;
using qbtest::mut;
using qbtest::PtyPair;

std::string bytes(std::initializer_list<int> b) { return std::string(b.begin(), b.end()); }

void feed(t_firmata* f, const std::string& b) {
    firmata_parse(f, reinterpret_cast<const uint8_t*>(b.data()), static_cast<int>(b.size()));
}

std::vector<std::pair<int, int>> g_events;
void record(int pin, int value) { g_events.emplace_back(pin, value); }

class FirmataEngine : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        f = firmata_new(mut(pty.device().c_str()));
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(pty.read_hex(), "fff079f7");  // reset, then the firmware query
    }
    void TearDown() override {
        firmata_RegisterGpioCallback(f, nullptr);
        firmata_close(f);
    }
    PtyPair pty;
    t_firmata* f = nullptr;
};

TEST_F(FirmataEngine, OutgoingMessagesAreByteExact) {
    EXPECT_EQ(firmata_analogWrite(f, 3, 200), 3);
    EXPECT_EQ(pty.read_hex(), "e34801");
    firmata_analogWrite(f, 20, 200);
    EXPECT_EQ(pty.read_hex(), "f06f144801f7");

    char a5[] = {static_cast<char>(0xA5)};
    firmata_I2CWriteBytes(f, 0x3C, a5, 1);
    EXPECT_EQ(pty.read_hex(), "f0763c002501f7");
    firmata_I2CReadBytes(f, 0x3C, 200);
    EXPECT_EQ(pty.read_hex(), "f0763c484801f7");
    firmata_I2CStopReading(f, 0x3C);
    EXPECT_EQ(pty.read_hex(), "f0763c58f7");
    firmata_I2Config(f, 100);
    firmata_I2Config(f, 1000);  // beyond 7 bits: the second byte carries the rest
    EXPECT_EQ(pty.read_hex(), "f0786400f7f0786807f7");

    firmata_SerialPortOpen(f, 1, 57600);
    EXPECT_EQ(pty.read_hex(), "f06011004203f7");
    char data[] = {0x41, static_cast<char>(0xC8)};
    firmata_SerialPortWrite(f, 0, data, 2);
    EXPECT_EQ(pty.read_hex(), "f06020410048" "01f7");
    firmata_SerialPortStopRead(f, 2);
    EXPECT_EQ(pty.read_hex(), "f0603201f7");

    // Port message: outputs and inputs (pull-ups) with a non-zero mirror value.
    firmata_pinMode(f, 8, MODE_OUTPUT);
    firmata_pinMode(f, 10, MODE_INPUT);
    firmata_pinMode(f, 11, MODE_PWM);
    EXPECT_EQ(pty.read_hex(), "f40801f40a00f40b03");
    firmata_digitalWrite(f, 10, 1);
    firmata_digitalWrite(f, 11, 1);
    firmata_digitalWrite(f, 8, 1);
    EXPECT_EQ(pty.read_hex(), "910400910400910500");
}

TEST_F(FirmataEngine, OutOfRangeArgumentsSendNothing) {
    std::string out = capture_stdout([&] {
        EXPECT_EQ(firmata_digitalWrite(f, 130, 1), 0);
        EXPECT_EQ(firmata_pinMode(f, 128, MODE_OUTPUT), -1);
        EXPECT_EQ(firmata_pinMode(f, -1, MODE_OUTPUT), -1);
        EXPECT_EQ(firmata_analogWrite(f, 200, 5), -1);
        EXPECT_EQ(firmata_digitalRead(f, 128), -1);
        int v = 0;
        EXPECT_EQ(firmata_analogRead(f, -3, &v), -1);
        EXPECT_EQ(firmata_SerialPortOpen(f, 8, 9600), -1);
        EXPECT_EQ(firmata_SerialPortOpen(f, -1, 9600), -1);
        EXPECT_EQ(firmata_SerialPortWrite(f, 0, mut("x"), -1), -1);
        EXPECT_EQ(firmata_SerialPortClose(f, -2), -1);
        EXPECT_EQ(firmata_I2CWriteBytes(f, 0x80, mut("x"), 1), -1);  // not a 7-bit address
        EXPECT_EQ(firmata_I2Config(f, 1 << 14), -1);
    });
    EXPECT_EQ(pty.read_hex(), "");
    EXPECT_NE(out.find("Does not support software serial\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Length not match\n"), std::string::npos) << out;
}

TEST_F(FirmataEngine, ParsesTheBoardsMessages) {
    // Version report: a complete message that changes nothing.
    feed(f, bytes({0xF9, 0x02, 0x05}));
    EXPECT_EQ(f->parse_count, 0);
    EXPECT_EQ(f->isReady, 0);

    feed(f, bytes({0xF0, 0x79, 0x02, 0x05, 'A', 0, 'B', 0, 0xF7}));
    EXPECT_STREQ(f->firmware, "AB-2.5");
    EXPECT_EQ(f->isReady, 1);
    EXPECT_EQ(pty.read_hex(), "f069f7f06bf7");

    feed(f, bytes({0xF0, 0x6C, 0x00, 0x01, 0x01, 0x01, 0x7F, 0x03, 0x08, 0x7F, 0xF7}));
    EXPECT_EQ(f->pins[0].supported_modes, 0x3u);
    EXPECT_EQ(f->pins[1].supported_modes, 0x8u);
    EXPECT_EQ(f->pins[2].supported_modes, 0u);
    EXPECT_EQ(pty.read_hex(), "f06d00f7f06d01f7");

    feed(f, bytes({0xF0, 0x6A, 0x7F, 0x7F, 0x00, 0x01, 0xF7}));  // pins 2, 3: channels 0, 1
    feed(f, bytes({0xE1, 0x10, 0x03}));
    EXPECT_EQ(f->pins[3].value, 0x190u);
    feed(f, bytes({0xE5, 0x10, 0x03}));  // no pin on channel 5
    for (const t_pin& p : f->pins) ASSERT_TRUE(p.value == 0 || &p == &f->pins[3]);

    feed(f, bytes({0xF0, 0x6E, 0x05, MODE_PWM, 0x7F, 0x01, 0xF7}));
    EXPECT_EQ(f->pins[5].mode, MODE_PWM);
    EXPECT_EQ(f->pins[5].value, 0xFFu);
    feed(f, bytes({0xF0, 0x6E, 0x06, MODE_PWM, 0xF7}));  // too short
    EXPECT_EQ(f->pins[6].mode, 0xFF);

    for (int p = 8; p < 16; ++p) f->pins[p].mode = MODE_INPUT;
    f->pins[9].mode = MODE_OUTPUT;
    f->pins[9].value = 7;
    firmata_RegisterGpioCallback(f, record);
    g_events.clear();
    feed(f, bytes({0x91, 0x05, 0x00}));
    EXPECT_EQ(f->pins[8].value, 1u);
    EXPECT_EQ(f->pins[9].value, 7u);
    EXPECT_EQ(f->pins[10].value, 1u);
    const std::vector<std::pair<int, int>> expect = {{8, 1}, {10, 1}, {11, 0}, {12, 0}, {13, 0}, {14, 0}, {15, 0}};
    EXPECT_EQ(g_events, expect);

    std::string out = capture_stdout([&] { feed(f, bytes({0xF0, 0x55, 0x01, 0x02, 0xF7})); });
    EXPECT_NE(out.find("Received unknown message\n"), std::string::npos) << out;
    EXPECT_NE(out.find("f0 55 01 02 f7 \n"), std::string::npos) << out;
}

TEST_F(FirmataEngine, DeviceDataStaysInsideTheArrays) {
    // Capability report naming 300 pins, with modes of 64 and more.
    std::string caps = bytes({0xF0, 0x6C});
    for (int p = 0; p < 300; ++p) caps += bytes({p % 2 ? 64 + p % 60 : MODE_OUTPUT, 1, 0x7F});
    caps += bytes({0xF7});
    feed(f, caps);
    EXPECT_EQ(f->pins[126].supported_modes, 1u << MODE_OUTPUT);
    EXPECT_EQ(f->pins[127].supported_modes, 0u);
    EXPECT_EQ(qbtest::count_of(pty.read(), bytes({0xF0, 0x6D})), 64);  // the even pins below 128

    std::string map = bytes({0xF0, 0x6A});
    for (int k = 0; k < 900; ++k) map += bytes({k % 16});
    map += bytes({0xF7});
    feed(f, map);
    EXPECT_EQ(f->pins[127].analog_channel, 127 % 16);

    // A firmware name of 400 characters keeps its first 135 and the version.
    std::string fw = bytes({0xF0, 0x79, 0x02, 0x05});
    for (int i = 0; i < 400; ++i) fw += bytes({'n', 0});
    feed(f, fw + bytes({0xF7}));
    EXPECT_EQ(std::string(f->firmware), std::string(135, 'n') + "-2.5");
    pty.read();

    // Frames too short for their fields are dropped.
    f->isReady = 0;
    feed(f, bytes({0xF0, 0x79, 0x02, 0xF7}));
    EXPECT_EQ(f->isReady, 0);
    f->i2c.address = 0x10;
    feed(f, bytes({0xF0, 0x77, 0x3C, 0x00, 0x10, 0xF7}));
    EXPECT_EQ(f->i2c.ok, 0);

    // Oversized string data and serial replies are cut or refused, never overrun.
    std::string text = bytes({0xF0, 0x71});
    for (int i = 0; i < 1500; ++i) text += bytes({'x', 0});
    feed(f, text + bytes({0xF7}));
    std::string out = capture_stdout([&] { feed(f, bytes({0xF0, 0x60, 0x41, 0x48, 0xF7})); });
    EXPECT_NE(out.find("Fatal error: broken message\n"), std::string::npos) << out;
    EXPECT_EQ(f->parse_count, 0);
}

std::string i2c_reply(int reg, int count) {
    std::string r = bytes({0xF0, 0x77, 0x3C, 0x00, reg & 0x7F, reg >> 7});
    for (int i = 0; i < count; ++i) r += bytes({i & 0x7F, (i >> 7) & 1});
    return r + bytes({0xF7});
}

// Register reads wait for the reply that another thread parses.
int read_register(t_firmata* f, PtyPair& pty, const std::string& reply, uint8_t* out, int want) {
    std::atomic<bool> done{false};
    std::thread board([&] {
        while (!done && pty.read(5).empty()) {
        }
        feed(f, reply);
    });
    const int rc = firmata_I2CReadRegisterBytes(f, 0x3C, 0x10, want, out);
    done = true;
    board.join();
    return rc;
}

TEST_F(FirmataEngine, I2cRegisterReadsTakeTheirReplyAndNoMore) {
    uint8_t out[300] = {};
    out[3] = 0xEE;
    EXPECT_EQ(read_register(f, pty, i2c_reply(0x10, 3), out, 3), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[2], 2);
    EXPECT_EQ(out[3], 0xEE);

    // More reply bytes than asked for: only the caller's count is copied.
    out[2] = 0xEE;
    EXPECT_EQ(read_register(f, pty, i2c_reply(0x10, 300), out, 2), 0);
    EXPECT_EQ(out[2], 0xEE);
    EXPECT_EQ(f->i2c.number_bytes, 255);

    // Fewer bytes than asked for (a missing device): a failed read.
    std::string out_log = capture_stdout([&] { EXPECT_EQ(read_register(f, pty, i2c_reply(0x10, 1), out, 4), -1); });
    EXPECT_NE(out_log.find("I2C Read short reply: 1 of 4 bytes\n"), std::string::npos) << out_log;

    // A reply for another register leaves the read waiting until it times out.
    out_log = capture_stdout([&] { EXPECT_EQ(read_register(f, pty, i2c_reply(0x11, 3), out, 3), -1); });
    EXPECT_NE(out_log.find("I2C Read timeout!\n"), std::string::npos) << out_log;
    EXPECT_EQ(f->i2c.ok, 0);
}

TEST_F(FirmataEngine, MessagesFromTwoThreadsStayWhole) {
    // Frames larger than what the line buffers, so writes go out in parts.
    constexpr int kFrames = 40, kData = 1500, kFrame = 2 * kData + 4;
    auto writer = [&](char c) {
        std::string p(kData, c);
        for (int i = 0; i < kFrames; ++i) firmata_SerialPortWrite(f, 1, p.data(), kData);
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the line fill up
    std::string wire;
    while (wire.size() < 2u * kFrames * kFrame) {
        const std::string chunk = pty.read(2000);
        if (chunk.empty()) break;
        wire += chunk;
    }
    a.join();
    b.join();
    ASSERT_EQ(wire.size(), 2u * kFrames * kFrame);
    for (size_t at = 0; at < wire.size(); at += kFrame) {
        const std::string frame = wire.substr(at, kFrame);
        ASSERT_EQ(frame.substr(0, 3), bytes({0xF0, 0x60, 0x21}));
        ASSERT_EQ(frame.back(), static_cast<char>(0xF7));
        ASSERT_EQ(frame.find(frame[3] == 'a' ? 'b' : 'a'), std::string::npos) << "interleaved at " << at;
    }
}

TEST_F(FirmataEngine, ALostDeviceFailsThePullStep) {
    pty.write(bytes({0xF9, 0x02, 0x05}));
    EXPECT_GT(firmata_pull(f), 0);
    pty.hang_up();
    int rc = 0;
    capture_stdout([&] {
        for (int i = 0; i < 10 && rc >= 0; ++i) rc = firmata_pull(f);
    });
    EXPECT_LT(rc, 0);
}

TEST(FirmataOpen, ABoardThatKeepsTalkingDoesNotHoldTheOpener) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    std::atomic<bool> stop{false};
    std::thread chatter([&] {
        const std::string noise(64, '\x01');
        while (!stop) {
            pty.write(noise);
            pty.read(1);
        }
    });
    const auto start = std::chrono::steady_clock::now();
    t_firmata* f = firmata_new(mut(pty.device().c_str()));
    const auto took = std::chrono::steady_clock::now() - start;
    stop = true;
    chatter.join();
    ASSERT_NE(f, nullptr);
    EXPECT_LT(took, std::chrono::seconds(15));
    firmata_close(f);
}

}  // namespace
