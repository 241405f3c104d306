// ALSA capture and playback without a sound card: alsa-lib's null and file
// plugins, configured by a test-local configuration file.
#include <cstring>
#include <string>

#include "alsa_io.h"
#include "media/alsa/alsa_internal.h"
#include "sdk_logger.h"
#include "support/test_support.h"

namespace {

std::string pattern(size_t n, int seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = char(i * 7 + size_t(seed) * 31 + i / 640);
    return s;
}

alsa_handle* open_handle(const char* in, const char* out) {
    return static_cast<alsa_handle*>(alsa_init(qbtest::mut(in), qbtest::mut(out)));
}

struct Alsa : testing::Test {
    // Capture devices read 5 blocks of their own pattern; qb_mulaw offers only mu-law, so S16_LE is refused.
    void SetUp() override {
        for (std::string name : {"a", "b"}) qbtest::write_file(dir_.file(name + ".raw"), pattern(5 * 640, name[0]));
        std::string conf = R"(pcm.qb_null { type null }
pcm.qb_play { type file slave.pcm "qb_null" file "DIR/out.raw" format "raw" }
pcm.qb_cap_a { type file slave.pcm "qb_null" file "/dev/null" infile "DIR/a.raw" format "raw" }
pcm.qb_cap_b { type file slave.pcm "qb_null" file "/dev/null" infile "DIR/b.raw" format "raw" }
pcm.qb_mulaw { type mulaw slave { pcm "qb_null" format S16_LE } })";
        for (size_t at; (at = conf.find("DIR")) != std::string::npos;) conf.replace(at, 3, dir_.path());
        qbtest::write_file(dir_.file("asound.conf"), conf);
    }
    void TearDown() override { snd_config_update_free_global(); }

    qbtest::TempDir dir_;
    qbtest::ScopedEnv env_{"ALSA_CONFIG_PATH", dir_.file("asound.conf").c_str()};
    qbtest::LogLevel debug_{SDK_LOG_LEVEL_DEBUG};
};

TEST_F(Alsa, CapturesTwentyMillisecondBlocksPerHandle) {
    alsa_handle *a = nullptr, *b = open_handle("qb_cap_b", nullptr);
    std::string log = qbtest::capture_stdout([&] { a = open_handle("qb_cap_a", nullptr); });
    EXPECT_TRUE(qbtest::count_of(log, "PCM handle name = 'qb_cap_a'\n") && qbtest::count_of(log, "buffer size = "));
    unsigned char *pa = nullptr, *pb = nullptr, *first_a = nullptr;
    for (int i = 0, la = 0, lb = 0; i < 3; i++) {
        ASSERT_EQ(alsa_read(a, &pa, &la), 0);
        ASSERT_EQ(alsa_read(b, &pb, &lb), 0);
        EXPECT_EQ(std::pair(la, lb), std::pair(640, 640));
        if (i == 0) first_a = pa;
        EXPECT_EQ(pa, first_a) << "one buffer per handle, valid until its next read";
        // Reading b must not have overwritten a's block.
        EXPECT_EQ(std::string(reinterpret_cast<char*>(pa), 640), pattern(5 * 640, 'a').substr(i * 640, 640)) << i;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(pb), 640), pattern(5 * 640, 'b').substr(i * 640, 640)) << i;
    }
    EXPECT_EQ(qbtest::count_of(qbtest::capture_stdout([&] { EXPECT_EQ(alsa_flush(a), 0); }), "Alsa flush buffer\n"), 1);
    EXPECT_EQ(alsa_deinit(a) + alsa_deinit(b), 0);
}

TEST_F(Alsa, FailedDevicesFailInitOrLeaveNoPlaybackAndTheProcessAlive) {
    testing::internal::CaptureStderr();
    std::string log = qbtest::capture_stdout([&] {
        EXPECT_EQ(open_handle("qb_missing", "qb_play"), nullptr);
        EXPECT_EQ(open_handle("qb_mulaw", nullptr), nullptr);
    });
    EXPECT_EQ(qbtest::count_of(log, "Capture device qb_missing cannot be opened\n"), 1) << log;
    for (alsa_handle* h : {open_handle(nullptr, "qb_missing"), open_handle(nullptr, "qb_mulaw")}) {
        ASSERT_TRUE(h && !h->input_handle && !h->output_handle);
        unsigned char* buf = nullptr;
        int len = 0;
        // Braces: evaluated in order, deinit last.
        EXPECT_EQ((std::tuple{alsa_read(h, &buf, &len), alsa_write(h, buf, 2), alsa_flush(h), alsa_deinit(h)}),
                  std::tuple(-1, -1, -1, 0));
    }
    snd_pcm_t* pcm = reinterpret_cast<snd_pcm_t*>(0x1);
    EXPECT_TRUE(alsa_output_open(&pcm, qbtest::mut("qb_mulaw")) == -1 && pcm == nullptr && alsa_deinit(nullptr) == -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("unable to set hw parameters: ", err.find("unable to open pcm device: ")), err.npos) << err;
}

TEST_F(Alsa, PlaysBuffersAndFilesWithAWavHeaderOnlyAtTheStart) {
    alsa_handle* h = open_handle(nullptr, "qb_play");
    ASSERT_NE(h->output_handle, nullptr);
    std::string data = pattern(1001, 3), played = data.substr(0, 1000);  // the odd byte is not a sample
    EXPECT_EQ(alsa_write(h, reinterpret_cast<unsigned char*>(data.data()), 1001), 0);
    EXPECT_EQ(alsa_write(h, reinterpret_cast<unsigned char*>(data.data()), 1), 0);  // nothing to play
    const char wav[] = "RIFF\x24\x08\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x80\x3e\0\0\0\x7d\0\0\x02\0\x10\0data\0\x08\0\0";
    // "RIFF" opening the second chunk is audio; a file too short for a header plays as it is.
    for (auto [name, content] : {std::pair<std::string, std::string>{"a.wav", std::string(wav, 44) + pattern(2048, 4)},
                                 {"late.raw", pattern(CHUNK, 5) + "RIFF" + pattern(96, 6)},
                                 {"tiny.wav", "RIFF0123456789ab"}, {"absent.wav", ""}}) {
        if (!content.empty()) qbtest::write_file(dir_.file(name), content);
        std::string path = dir_.file(name), log = qbtest::capture_stdout([&] {
            EXPECT_EQ(alsa_output_write_from_file(h->output_handle, path.data()), content.empty() ? -1 : 0);
        });
        played += name == "a.wav" ? std::string(44, '\0') + content.substr(44) : content;
        EXPECT_EQ(qbtest::count_of(log, "\n"), name == "a.wav" ? 4 : 2) << log;  // each line ends in "\n\n"
        EXPECT_TRUE(name != "a.wav" || qbtest::count_of(log, "bytelength=16 channels=1 sample_rate=16000\n\n")) << log;
        EXPECT_NE(log.find("............Play end\n\n"), std::string::npos) << name << ": " << log;
    }
    snd_pcm_drop(h->output_handle);  // back to the set-up state, where writes are refused
    EXPECT_EQ(alsa_write(h, reinterpret_cast<unsigned char*>(data.data()), 64), -1);
    EXPECT_EQ(alsa_deinit(h), 0);
    EXPECT_TRUE(qbtest::read_file(dir_.file("out.raw")) == played);
}

TEST(AlsaCapture, ShortReadsAreCompletedWithSilence) {
    qb::media::CaptureBlock block;
    memset(&block, 0x11, sizeof block);     // both buffers hold the previous block
    memset(block.sound_buffer, 0x22, 200);  // the next read delivers only 100 frames
    char* out = nullptr;
    int len = 0;
    std::string log = qbtest::capture_stdout([&] { qb::media::capture_publish(&block, 100, &out, &len); });
    EXPECT_NE(log.find("short read, read 100 frames/n\n"), std::string::npos) << log;
    EXPECT_TRUE(out == block.sound_buffer_single && len == 640);
    EXPECT_EQ(std::string(out, 640), std::string(200, '\x22') + std::string(440, '\0'));
}

}  // namespace
