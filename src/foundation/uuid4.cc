#include "uuid4.h"

#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "foundation/uuid4_internal.h"

namespace {

// Request ids and temp paths come from several threads; one lock keeps the
// two state words consistent.
std::mutex g_uuid_mutex;
uint64_t g_seed[2] = {0, 0};
std::atomic<uint64_t> g_fallback_counter{0};

uint64_t xorshift128plus() {
    uint64_t x = g_seed[0];
    const uint64_t y = g_seed[1];
    g_seed[0] = y;
    x ^= x << 23;
    g_seed[1] = x ^ y ^ (x >> 18) ^ (y >> 5);
    return g_seed[1] + y;
}

uint64_t splitmix64(uint64_t z) {
    z += 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

bool read_device(const char* device, unsigned char* out, size_t len) {
    FILE* f = fopen(device, "rb");
    if (!f) return false;
    size_t got = fread(out, 1, len, f);
    fclose(f);
    return got == len;
}

bool read_getrandom(unsigned char* out, size_t len) {
    size_t got = 0;
    while (got < len) {
        ssize_t n = getrandom(out + got, len - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

// Weak but never-repeating seed: the old state is mixed in, so even two
// calls within one clock tick differ.
void seed_from_clock(uint64_t out[2]) {
    struct timespec mono, real;
    clock_gettime(CLOCK_MONOTONIC, &mono);
    clock_gettime(CLOCK_REALTIME, &real);
    const uint64_t count = g_fallback_counter.fetch_add(1) + 1;
    uint64_t a = static_cast<uint64_t>(real.tv_sec) * 1000000000ULL + static_cast<uint64_t>(real.tv_nsec);
    uint64_t b = static_cast<uint64_t>(mono.tv_sec) * 1000000000ULL + static_cast<uint64_t>(mono.tv_nsec);
    a ^= static_cast<uint64_t>(getpid()) << 32;
    out[0] = splitmix64(a ^ g_seed[0] ^ count);
    out[1] = splitmix64(b ^ g_seed[1] ^ (count << 17));
}

// Caller holds g_uuid_mutex.
int seed_locked(const char* device, bool use_getrandom) {
    unsigned char bytes[16];
    uint64_t fresh[2];
    int rc = UUID4_ESUCCESS;
    if (read_device(device, bytes, sizeof bytes) || (use_getrandom && read_getrandom(bytes, sizeof bytes))) {
        memcpy(fresh, bytes, sizeof fresh);
    } else {
        seed_from_clock(fresh);
        rc = UUID4_EFAILURE;
    }
    // An all-zero state would make xorshift emit zeros for ever.
    if (fresh[0] == 0 && fresh[1] == 0) fresh[1] = 0x9e3779b97f4a7c15ULL;
    g_seed[0] = fresh[0];
    g_seed[1] = fresh[1];
    return rc;
}

}  // namespace

namespace qb {

int uuid4_seed(const char* device, bool use_getrandom) {
    std::lock_guard<std::mutex> lock(g_uuid_mutex);
    return seed_locked(device, use_getrandom);
}

void uuid4_set_state(uint64_t s0, uint64_t s1) {
    std::lock_guard<std::mutex> lock(g_uuid_mutex);
    g_seed[0] = s0;
    g_seed[1] = s1;
}

}  // namespace qb

extern "C" {

QB_API int uuid4_init(void) { return qb::uuid4_seed("/dev/urandom", true); }

QB_API void uuid4_generate(char* dst) {
    static constexpr char kTemplate[] = "xxxxxxxxxxxx4xxxyxxxxxxxxxxxxxxx";
    static constexpr char kHex[] = "0123456789abcdef";
    if (!dst) return;
    uint64_t words[2];
    {
        std::lock_guard<std::mutex> lock(g_uuid_mutex);
        // Never seeded: identifiers from a zero state would all be the same
        // text, so request ids and temp paths would collide.
        if (g_seed[0] == 0 && g_seed[1] == 0) seed_locked("/dev/urandom", true);
        words[0] = xorshift128plus();
        words[1] = xorshift128plus();
    }
    unsigned char bytes[16];
    memcpy(bytes, words, sizeof bytes);
    char* out = dst;
    size_t i = 0;
    for (const char* t = kTemplate; *t; ++t) {
        if (*t != 'x' && *t != 'y') {
            *out++ = *t;
            continue;
        }
        const unsigned byte = bytes[i / 2];
        const unsigned nibble = (i % 2 == 0) ? (byte & 0xF) : (byte >> 4);
        *out++ = *t == 'x' ? kHex[nibble] : kHex[(nibble & 3) + 8];
        ++i;
    }
    *out = '\0';
}

}  // extern "C"
