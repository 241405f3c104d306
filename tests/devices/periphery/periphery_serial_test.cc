// Serial ports over a pseudo-terminal pair; errors on paths that are not ttys.
#include <termios.h>

#include <chrono>
#include <string>
#include <thread>

#include "serial.h"
#include "support/pty_pair.h"
#include "support/test_support.h"

namespace {

struct Serial : testing::Test {
    void TearDown() override {
        serial_close(s_);
        serial_free(s_);
    }
    std::string text() {
        char buf[160];
        serial_tostring(s_, buf, sizeof buf);
        return buf;
    }
    serial_t* s_ = serial_new();
};

TEST_F(Serial, ArgumentsAndOpenFailuresLeaveItClosed) {
    struct Case {
        unsigned databits, stopbits;
        serial_parity_t parity;
        uint32_t baud;
        const char* message;
    };
    for (Case c : {Case{9, 1, PARITY_NONE, 9600, "Invalid data bits (can be 5,6,7,8)"},
                   {8, 1, serial_parity_t(3), 9600, "Invalid parity (can be PARITY_NONE,PARITY_ODD,PARITY_EVEN)"},
                   {8, 3, PARITY_NONE, 9600, "Invalid stop bits (can be 1,2)"},
                   {8, 1, PARITY_NONE, 12345, "Invalid baud rate"}}) {
        EXPECT_EQ(serial_open_advanced(s_, "/dev/null", c.baud, c.databits, c.parity, c.stopbits, 0, 0), -1);
        EXPECT_STREQ(serial_errmsg(s_), c.message);
        EXPECT_EQ(serial_errno(s_), 0);
    }
    EXPECT_EQ(serial_open(s_, "/dev/ttyQB-missing", 9600), SERIAL_ERROR_OPEN);
    EXPECT_STREQ(serial_errmsg(s_), "Opening serial port \"/dev/ttyQB-missing\": No such file or directory [errno 2]");
    qbtest::TempDir dir;
    qbtest::write_file(dir.file("plain"), "x");
    EXPECT_EQ(serial_open(s_, dir.file("plain").c_str(), 9600), SERIAL_ERROR_CONFIGURE);
    EXPECT_EQ(serial_errno(s_), ENOTTY);
    EXPECT_EQ(serial_fd(s_), -1);
    EXPECT_EQ(serial_close(s_), 0);
    EXPECT_EQ(serial_close(s_), 0);
    // A long path is cut to the message's 96 bytes, never past them.
    std::string longpath = "/" + std::string(300, 'p');
    EXPECT_EQ(serial_open(s_, longpath.c_str(), 9600), SERIAL_ERROR_OPEN);
    EXPECT_EQ(std::string(serial_errmsg(s_)).size(), 95u);
}

TEST_F(Serial, RawBytesBothWaysWithTimeouts) {
    qbtest::PtyPair pty;
    ASSERT_EQ(serial_open(s_, pty.device().c_str(), 115200), 0) << serial_errmsg(s_);
    EXPECT_EQ(text(), "Serial (fd=" + std::to_string(serial_fd(s_)) +
                          ", baudrate=115200, databits=8, parity=none, stopbits=1, xonxoff=false, rtscts=false)");

    const uint8_t out[] = {0x00, 0x0a, 0xff};
    EXPECT_EQ(serial_write(s_, out, 3), 3);
    EXPECT_EQ(pty.read_n(3), std::string("\x00\x0a\xff", 3));

    uint8_t in[8] = {};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(serial_read(s_, in, 4, 100), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
    EXPECT_EQ(serial_poll(s_, 0), 0);

    pty.write("\x11\x22");
    EXPECT_EQ(serial_poll(s_, 1000), 1);
    unsigned waiting = 0;
    EXPECT_EQ(serial_input_waiting(s_, &waiting), 0);
    EXPECT_EQ(waiting, 2u);
    // No limit: the read waits for the rest of the length.
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.write("\x33");
    });
    EXPECT_EQ(serial_read(s_, in, 3, -1), 3);
    late.join();
    EXPECT_EQ(std::string(reinterpret_cast<char*>(in), 3), "\x11\x22\x33");
}

TEST_F(Serial, SettersChangeOneFieldAndParityKeepsBitSeven) {
    // A pty forces 8 data bits and no parity bit into its control flags, so
    // the input flags that parity sets are checked directly.
    qbtest::PtyPair pty;
    termios t;
    ASSERT_EQ(serial_open_advanced(s_, pty.device().c_str(), 9600, 7, PARITY_ODD, 2, 1, 0), 0);
    ASSERT_EQ(tcgetattr(serial_fd(s_), &t), 0);
    EXPECT_EQ(t.c_iflag & (ISTRIP | INPCK | IXON | IXOFF), tcflag_t(ISTRIP | INPCK | IXON | IXOFF));
    EXPECT_EQ(serial_set_baudrate(s_, 12345), -1);
    EXPECT_STREQ(serial_errmsg(s_), "Invalid baud rate");
    EXPECT_EQ(serial_set_baudrate(s_, 57600) + serial_set_stopbits(s_, 1) + serial_set_xonxoff(s_, 0), 0);
    EXPECT_EQ(text().substr(text().find("baud")),
              "baudrate=57600, databits=8, parity=none, stopbits=1, xonxoff=false, rtscts=false)");

    // With 8 data bits a parity setting must not strip bit 7 off received bytes.
    ASSERT_EQ(serial_set_parity(s_, PARITY_EVEN), 0);
    ASSERT_EQ(tcgetattr(serial_fd(s_), &t), 0);
    EXPECT_EQ(t.c_iflag & (ISTRIP | INPCK), tcflag_t(INPCK));
    uint8_t in[1];
    pty.write("\xe9");
    EXPECT_EQ(serial_read(s_, in, 1, 1000), 1);
    EXPECT_EQ(in[0], 0xe9);
}

}  // namespace
