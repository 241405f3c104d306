// ALSA capture and playback without a sound card: alsa-lib's null and file
// plugins, configured by a test-local configuration file.
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "alsa_io.h"
#include "media/alsa_internal.h"
#include "sdk_logger.h"
#include "support/test_support.h"

namespace {

using qbtest::mut;

std::string pattern(size_t n, int seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = char((i * 7 + size_t(seed) * 31 + i / 640) & 0xFF);
    return s;
}

class Alsa : public testing::Test {
protected:
    void SetUp() override {
        qbtest::write_file(dir_.file("a.raw"), pattern(5 * 640, 1));
        qbtest::write_file(dir_.file("b.raw"), pattern(5 * 640, 2));
        std::string conf =
            "pcm.qb_null { type null }\n"
            "pcm.qb_cap_a { type file slave.pcm \"qb_null\" file \"/dev/null\" infile \"" + dir_.file("a.raw") +
            "\" format \"raw\" }\n"
            "pcm.qb_cap_b { type file slave.pcm \"qb_null\" file \"/dev/null\" infile \"" + dir_.file("b.raw") +
            "\" format \"raw\" }\n"
            "pcm.qb_play { type file slave.pcm \"qb_null\" file \"" + out_path() + "\" format \"raw\" }\n"
            // Only mu-law on the application side: S16_LE is refused.
            "pcm.qb_mulaw { type mulaw slave { pcm \"qb_null\" format S16_LE } }\n";
        qbtest::write_file(dir_.file("asound.conf"), conf);
        env_ = std::make_unique<qbtest::ScopedEnv>("ALSA_CONFIG_PATH", dir_.file("asound.conf").c_str());
    }

    void TearDown() override { snd_config_update_free_global(); }

    std::string out_path() const { return dir_.file("out.raw"); }
    std::string played() const { return qbtest::read_file(out_path()); }

    // Plays a file through a fresh playback handle; returns the result and the log.
    std::pair<int, std::string> play_file(const std::string& path) {
        qbtest::LogLevel debug(SDK_LOG_LEVEL_DEBUG);
        auto* h = static_cast<alsa_handle*>(alsa_init(nullptr, mut("qb_play")));
        EXPECT_NE(h->output_handle, nullptr);
        int rc = 0;
        std::string log = qbtest::capture_stdout([&] { rc = alsa_output_write_from_file(h->output_handle, mut(path.c_str())); });
        alsa_deinit(h);
        return {rc, log};
    }

    qbtest::TempDir dir_;
    std::unique_ptr<qbtest::ScopedEnv> env_;
};

TEST_F(Alsa, CapturesTwentyMillisecondBlocksPerHandle) {
    qbtest::LogLevel debug(SDK_LOG_LEVEL_DEBUG);
    alsa_handle* a = nullptr;
    std::string log = qbtest::capture_stdout([&] { a = static_cast<alsa_handle*>(alsa_init(mut("qb_cap_a"), nullptr)); });
    ASSERT_NE(a, nullptr);
    ASSERT_NE(a->input_handle, nullptr);
    EXPECT_EQ(a->output_handle, nullptr);
    EXPECT_NE(log.find("PCM handle name = 'qb_cap_a'\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" frames\n"), std::string::npos);
    auto* b = static_cast<alsa_handle*>(alsa_init(mut("qb_cap_b"), nullptr));
    ASSERT_NE(b->input_handle, nullptr);

    const std::string want_a = pattern(5 * 640, 1), want_b = pattern(5 * 640, 2);
    unsigned char* first_a = nullptr;
    for (int block = 0; block < 3; block++) {
        unsigned char *pa = nullptr, *pb = nullptr;
        int la = 0, lb = 0;
        ASSERT_EQ(alsa_read(a, &pa, &la), 0);
        ASSERT_EQ(alsa_read(b, &pb, &lb), 0);
        EXPECT_EQ(la, 640);
        EXPECT_EQ(lb, 640);
        if (block == 0) first_a = pa;
        EXPECT_EQ(pa, first_a) << "one buffer per handle";
        EXPECT_NE(pa, pb) << "handles must not share a block";
        // Reading b must not have overwritten a's block.
        EXPECT_EQ(std::string(reinterpret_cast<char*>(pa), 640), want_a.substr(block * 640, 640)) << block;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(pb), 640), want_b.substr(block * 640, 640)) << block;
    }
    log = qbtest::capture_stdout([&] { EXPECT_EQ(alsa_flush(a), 0); });
    EXPECT_NE(log.find("Alsa flush buffer\n"), std::string::npos);
    EXPECT_EQ(alsa_deinit(a), 0);
    EXPECT_EQ(alsa_deinit(b), 0);
}

TEST_F(Alsa, DevicesThatFailLeaveTheHandleWithoutThemAndTheProcessAlive) {
    testing::internal::CaptureStderr();
    auto* missing = static_cast<alsa_handle*>(alsa_init(mut("qb_missing"), mut("qb_missing")));
    auto* refused = static_cast<alsa_handle*>(alsa_init(mut("qb_mulaw"), mut("qb_mulaw")));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("unable to open pcm device: "), std::string::npos) << err;
    EXPECT_NE(err.find("unable to set hw parameters: "), std::string::npos) << err;
    for (alsa_handle* h : {missing, refused}) {
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->input_handle, nullptr);
        EXPECT_EQ(h->output_handle, nullptr);
        unsigned char* buf = nullptr;
        int len = 0;
        unsigned char byte = 0;
        EXPECT_EQ(alsa_read(h, &buf, &len), -1);
        EXPECT_EQ(alsa_write(h, &byte, 1), -1);
        EXPECT_EQ(alsa_flush(h), -1);
        EXPECT_EQ(alsa_deinit(h), 0);
    }
    snd_pcm_t* pcm = reinterpret_cast<snd_pcm_t*>(0x1);
    EXPECT_EQ(alsa_output_open(&pcm, mut("qb_mulaw")), -1);
    EXPECT_EQ(pcm, nullptr);
    EXPECT_EQ(alsa_deinit(nullptr), -1);
}

TEST_F(Alsa, PlaysEveryCompleteSampleOfABuffer) {
    auto* h = static_cast<alsa_handle*>(alsa_init(nullptr, mut("qb_play")));
    ASSERT_NE(h->output_handle, nullptr);
    std::string data = pattern(1001, 3);
    EXPECT_EQ(alsa_write(h, reinterpret_cast<unsigned char*>(data.data()), 1001), 0);
    EXPECT_EQ(alsa_write(h, reinterpret_cast<unsigned char*>(data.data()), 1), 0);  // nothing to play
    EXPECT_EQ(alsa_deinit(h), 0);
    EXPECT_EQ(played(), data.substr(0, 1000));
}

TEST_F(Alsa, WriteFailuresAreReportedNotSwallowed) {
    snd_pcm_t* pcm = nullptr;
    ASSERT_EQ(alsa_output_open(&pcm, mut("qb_play")), 0);
    snd_pcm_drop(pcm);  // back to the set-up state, where writes are refused
    char buf[64] = {};
    EXPECT_EQ(alsa_output_write(pcm, buf, sizeof buf), -1);
    EXPECT_EQ(alsa_output_close(pcm), 0);
}

TEST_F(Alsa, PlaysAWavFileWithItsHeaderAsSilence) {
    std::string wav("RIFF\x24\x08\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x80\x3e\0\0\0\x7d\0\0\x02\0\x10\0data\0\x08\0\0", 44);
    std::string audio = pattern(2048, 4);
    qbtest::write_file(dir_.file("a.wav"), wav + audio);
    auto [rc, log] = play_file(dir_.file("a.wav"));
    EXPECT_EQ(rc, 0);
    EXPECT_NE(log.find("bytelength=16 channels=1 sample_rate=16000\n\n"), std::string::npos) << log;
    EXPECT_EQ(played(), std::string(44, '\0') + audio);
}

TEST_F(Alsa, OnlyTheFirstChunkOfAFileCanBeAHeader) {
    // Audio that spells "RIFF" at the start of the second chunk is still audio.
    std::string raw = pattern(CHUNK, 5) + "RIFF" + pattern(96, 6);
    qbtest::write_file(dir_.file("b.raw"), raw);
    auto [rc, log] = play_file(dir_.file("b.raw"));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(log.find("bytelength="), std::string::npos);
    EXPECT_TRUE(played() == raw);

    // Too short for a header: played as it is.
    std::string tiny("RIFF0123456789ab", 16);
    qbtest::write_file(dir_.file("tiny.wav"), tiny);
    std::tie(rc, log) = play_file(dir_.file("tiny.wav"));
    EXPECT_EQ(log.find("bytelength="), std::string::npos);
    EXPECT_EQ(played(), tiny);
}

TEST_F(Alsa, AMissingFileLogsOnlyThePlayEnd) {
    auto [rc, log] = play_file(dir_.file("absent.wav"));
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(qbtest::count_of(log, "\n"), 2) << log;  // the line ends in "\n\n"
    EXPECT_NE(log.find("[E][ALSA_OUTPUT]"), std::string::npos);
    EXPECT_NE(log.find("............Play end\n\n"), std::string::npos);
}

TEST(AlsaCapture, ShortReadsAreCompletedWithSilence) {
    qb::media::CaptureBlock block;
    memset(block.sound_buffer, 0x11, sizeof block.sound_buffer);
    char* out = nullptr;
    int len = 0;
    qb::media::capture_publish(&block, SAMPLE_FRAMES, &out, &len);
    ASSERT_EQ(out, block.sound_buffer_single);
    // The next read delivers only 100 frames over a buffer still holding the old block.
    memset(block.sound_buffer, 0x22, 200);
    std::string log = qbtest::capture_stdout([&] { qb::media::capture_publish(&block, 100, &out, &len); });
    EXPECT_NE(log.find("short read, read 100 frames/n\n"), std::string::npos) << log;
    EXPECT_EQ(len, 640);
    EXPECT_EQ(std::string(out, 640), std::string(200, '\x22') + std::string(440, '\0'));
}

}  // namespace
