#include "support/fake_ftdi.h"

#include "sdk_config.h"

#ifdef ENABLE_CHANNEL_FT232H

#include <ftdi.h>

#include <algorithm>
#include <cstdio>

namespace qbtest {

namespace {
FakeFtdi g_fake;
}

std::string hex(const uint8_t* data, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; i++) {
        snprintf(b, sizeof b, i ? " %02x" : "%02x", data[i]);
        s += b;
    }
    return s;
}

std::string FakeFtdi::stream() const {
    std::string s;
    for (const auto& w : writes) s += (s.empty() || w.empty() ? "" : " ") + w;
    return s;
}

std::string FakeFtdi::take() {
    std::string s = stream();
    writes.clear();
    return s;
}

FakeFtdi& fake_ftdi_reset() { return g_fake = FakeFtdi{}; }
FakeFtdi& fake_ftdi() { return g_fake; }

}  // namespace qbtest

using qbtest::g_fake;

namespace {
std::string hex2(int v) {
    char b[8];
    snprintf(b, sizeof b, "%02x", v & 0xFF);
    return b;
}
}  // namespace

extern "C" {

int ftdi_init(struct ftdi_context* ftdi) {
    g_fake.calls.push_back("init");
    *ftdi = ftdi_context{};
    return g_fake.fail_init ? -3 : 0;
}

void ftdi_deinit(struct ftdi_context*) { g_fake.calls.push_back("deinit"); }

int ftdi_set_interface(struct ftdi_context*, enum ftdi_interface interface) {
    g_fake.calls.push_back("interface " + std::to_string(int(interface)));
    return 0;
}

int ftdi_usb_open_desc_index(struct ftdi_context*, int vendor, int product, const char* description,
                             const char* serial, unsigned int index) {
    char b[64];
    snprintf(b, sizeof b, "open %04x:%04x #%u%s", vendor, product, index, description || serial ? " filtered" : "");
    g_fake.calls.push_back(b);
    return g_fake.no_device ? -3 : 0;
}

int ftdi_usb_close(struct ftdi_context*) {
    g_fake.calls.push_back("close");
    return 0;
}

int ftdi_usb_reset(struct ftdi_context*) {
    g_fake.calls.push_back("reset");
    return g_fake.fail_reset ? -1 : 0;
}

int ftdi_set_latency_timer(struct ftdi_context*, unsigned char latency) {
    g_fake.calls.push_back("latency " + std::to_string(latency));
    return 0;
}

int ftdi_write_data_set_chunksize(struct ftdi_context*, unsigned int chunksize) {
    g_fake.calls.push_back("write chunks " + std::to_string(chunksize));
    return 0;
}

int ftdi_read_data_set_chunksize(struct ftdi_context*, unsigned int chunksize) {
    g_fake.calls.push_back("read chunks " + std::to_string(chunksize));
    return 0;
}

int ftdi_set_bitmode(struct ftdi_context* ftdi, unsigned char bitmask, unsigned char mode) {
    g_fake.calls.push_back("bitmode " + hex2(bitmask) + " " + hex2(mode) + " timeouts " +
                           std::to_string(ftdi->usb_read_timeout) + "/" + std::to_string(ftdi->usb_write_timeout));
    return 0;
}

int ftdi_tcioflush(struct ftdi_context*) {
    g_fake.calls.push_back("flush rx+tx");
    return 0;
}

int ftdi_tciflush(struct ftdi_context*) {
    g_fake.calls.push_back("flush rx");
    return 0;
}

int ftdi_write_data(struct ftdi_context*, const unsigned char* buf, int size) {
    if (g_fake.writes_left == 0) return -1;
    if (g_fake.writes_left > 0) g_fake.writes_left--;
    g_fake.writes.push_back(qbtest::hex(buf, size_t(size)));
    return size;
}

int ftdi_read_data(struct ftdi_context*, unsigned char* buf, int size) {
    int n = std::min(size, int(g_fake.answers.size()));
    std::copy_n(g_fake.answers.begin(), n, buf);
    g_fake.answers.erase(g_fake.answers.begin(), g_fake.answers.begin() + n);
    return n;
}

}  // extern "C"

#endif  // ENABLE_CHANNEL_FT232H
