#include "support/fake_ftdi.h"

#include "sdk_config.h"

#ifdef ENABLE_CHANNEL_FT232H

#include <ftdi.h>

#include <algorithm>
#include <cstdio>

namespace qbtest {

namespace {
FakeFtdi g_fake;

std::string hex(const uint8_t* data, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; i++) s += (snprintf(b, sizeof b, i ? " %02x" : "%02x", data[i]), b);
    return s;
}

int call(const std::string& text, int rc = 0) {
    g_fake.calls.push_back(text);
    return rc;
}
}  // namespace

std::string FakeFtdi::take() {
    std::string s;
    for (const auto& w : writes) s += (s.empty() ? "" : " ") + w;
    writes.clear();
    return s;
}

FakeFtdi& fake_ftdi_reset() { return g_fake = FakeFtdi{}; }

}  // namespace qbtest

using qbtest::call;
using qbtest::g_fake;

extern "C" {

int ftdi_init(ftdi_context* ftdi) {
    *ftdi = ftdi_context{};
    return call("init", g_fake.fail_init ? -3 : 0);
}
void ftdi_deinit(ftdi_context*) { call("deinit"); }
int ftdi_set_interface(ftdi_context*, ftdi_interface i) { return call("interface " + std::to_string(int(i))); }

int ftdi_usb_open_desc_index(ftdi_context*, int vendor, int product, const char* description, const char* serial,
                             unsigned int index) {
    char b[64];
    snprintf(b, sizeof b, "open %04x:%04x #%u%s", vendor, product, index, description || serial ? " filtered" : "");
    return call(b, g_fake.no_device ? -3 : 0);
}

int ftdi_usb_close(ftdi_context*) { return call("close"); }
int ftdi_usb_reset(ftdi_context*) { return call("reset", g_fake.fail_reset ? -1 : 0); }
int ftdi_set_latency_timer(ftdi_context*, unsigned char ms) { return call("latency " + std::to_string(ms)); }
int ftdi_write_data_set_chunksize(ftdi_context*, unsigned int n) { return call("write chunks " + std::to_string(n)); }
int ftdi_read_data_set_chunksize(ftdi_context*, unsigned int n) { return call("read chunks " + std::to_string(n)); }
int ftdi_tcioflush(ftdi_context*) { return call("flush rx+tx"); }
int ftdi_tciflush(ftdi_context*) { return call("flush rx"); }

int ftdi_set_bitmode(ftdi_context* ftdi, unsigned char bitmask, unsigned char mode) {
    char b[64];
    snprintf(b, sizeof b, "bitmode %02x %02x timeouts %d/%d", bitmask, mode, ftdi->usb_read_timeout,
             ftdi->usb_write_timeout);
    return call(b);
}

int ftdi_write_data(ftdi_context*, const unsigned char* buf, int size) {
    if (g_fake.writes_left == 0) return -1;
    if (g_fake.writes_left > 0) g_fake.writes_left--;
    g_fake.writes.push_back(qbtest::hex(buf, size_t(size)));
    return size;
}

int ftdi_read_data(ftdi_context*, unsigned char* buf, int size) {
    int n = std::min(size, int(g_fake.answers.size()));
    std::copy_n(g_fake.answers.begin(), n, buf);
    g_fake.answers.erase(g_fake.answers.begin(), g_fake.answers.begin() + n);
    return n;
}

}  // extern "C"

#endif  // ENABLE_CHANNEL_FT232H
