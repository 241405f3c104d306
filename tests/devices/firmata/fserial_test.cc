// The tty layer under a Firmata board, on a pseudo-terminal.
#include "fserial.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/pty_pair.h"
#include "support/test_support.h"

namespace {
using qbtest::mut;

std::string stderr_of(t_serial* s, const std::string& path) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(fserial_open(s, mut(path.c_str())), -1);
    return testing::internal::GetCapturedStderr();
}

TEST(FirmataSerial, OpenRefusesWhatIsNoSerialPort) {
    t_serial* s = fserial_new();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->baud_rate, 38400);
    qbtest::TempDir dir;
    qbtest::write_file(dir.file("plain"), "x");
    EXPECT_NE(stderr_of(s, dir.path()).find("Unable to open, Object is a directory, not a serial port"),
              std::string::npos);
    EXPECT_NE(stderr_of(s, dir.file("plain")).find("Unable to query serial port signals"), std::string::npos);
    EXPECT_NE(stderr_of(s, dir.file("none")).find("Unable to open, Device name does not exist"), std::string::npos);
    EXPECT_EQ(s->port_is_open, 0);
    char b[4];
    EXPECT_EQ(fserial_read(s, b, 4), -1);
    EXPECT_EQ(fserial_write(s, b, 4), -1);
    EXPECT_EQ(fserial_waitInput(s, 10), -1);
    EXPECT_EQ(fserial_close(s), -1);
    free(s);
}

TEST(FirmataSerial, RawLineWithRatesReadsWritesAndRestoresOnClose) {
    qbtest::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    // Settings the line had before: restored by close.
    const int probe = open(pty.device().c_str(), O_RDWR | O_NOCTTY);
    termios before{};
    tcgetattr(probe, &before);
    before.c_lflag |= ECHO;
    tcsetattr(probe, TCSANOW, &before);

    t_serial* s = fserial_new();
    std::string path = pty.device();
    ASSERT_EQ(fserial_open(s, path.data()), 0);
    path.assign(path.size(), 'x');  // the record keeps its own copy
    EXPECT_EQ(std::string(s->port_name), pty.device());

    const termios applied = s->settings;
    EXPECT_EQ(fserial_setBaud(s, 14400), -1);
    EXPECT_EQ(memcmp(&applied, &s->settings, sizeof applied), 0);
    EXPECT_EQ(fserial_setBaud(s, 1152000), 0);
    EXPECT_EQ(cfgetospeed(&s->settings), static_cast<speed_t>(B1152000));

    char buf[16];
    EXPECT_EQ(fserial_read(s, buf, sizeof buf), 0);
    EXPECT_EQ(fserial_waitInput(s, 20), 0);
    ASSERT_TRUE(pty.write("ping"));
    EXPECT_GT(fserial_waitInput(s, 2000), 0);
    EXPECT_EQ(fserial_read(s, buf, sizeof buf), 4);
    EXPECT_EQ(s->rx, 4);
    EXPECT_EQ(fserial_write(s, mut("pong\n"), 5), 5);
    EXPECT_EQ(pty.read(), "pong\n");  // no output processing
    EXPECT_EQ(fserial_discardInput(s), 0);

    EXPECT_EQ(fserial_close(s), 0);
    termios after{};
    tcgetattr(probe, &after);
    EXPECT_TRUE(after.c_lflag & ECHO);
    EXPECT_EQ(fserial_read(s, buf, 1), -1);
    close(probe);
    free(s);
}

}  // namespace
