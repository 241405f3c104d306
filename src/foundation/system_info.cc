#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sdk_os.h"

namespace {

// Upper bound for the interface list; far beyond any real host.
constexpr size_t kMaxIfconfBytes = 4u << 20;

// Fills ifc with every interface record, growing the buffer until the kernel's
// answer leaves room to spare (a full buffer may mean records were dropped).
// The caller frees ifc->ifc_buf.
bool list_interfaces(int fd, struct ifconf* ifc) {
    size_t size = 512;
    ifc->ifc_len = 0;
    ifc->ifc_buf = nullptr;
    if (ioctl(fd, SIOCGIFCONF, ifc) == 0 && ifc->ifc_len > 0) size = static_cast<size_t>(ifc->ifc_len) * 2;
    for (;;) {
        char* buf = static_cast<char*>(realloc(ifc->ifc_buf, size));
        if (!buf) break;
        ifc->ifc_buf = buf;
        ifc->ifc_len = static_cast<int>(size);
        if (ioctl(fd, SIOCGIFCONF, ifc) != 0) break;
        if (static_cast<size_t>(ifc->ifc_len) + sizeof(struct ifreq) <= size) return true;
        if (size >= kMaxIfconfBytes) return true;
        size *= 2;
    }
    free(ifc->ifc_buf);
    ifc->ifc_buf = nullptr;
    ifc->ifc_len = 0;
    return false;
}

int clamp_mib(uint64_t units, uint64_t unit_size) {
    const unsigned __int128 bytes = static_cast<unsigned __int128>(units) * (unit_size ? unit_size : 1);
    const unsigned __int128 mib = bytes >> 20;
    return mib > INT_MAX ? INT_MAX : static_cast<int>(mib);
}

}  // namespace

extern "C" {

QB_API int get_ip_addr(char* ifname, char* result) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        perror("get_ip_addr socket failed");
        return -1;
    }
    struct ifconf ifc;
    if (ifname && result && list_interfaces(fd, &ifc)) {
        const size_t count = static_cast<size_t>(ifc.ifc_len) / sizeof(struct ifreq);
        for (size_t i = 0; i < count; ++i) {
            const struct ifreq& req = ifc.ifc_req[i];
            if (req.ifr_addr.sa_family != AF_INET) continue;
            struct sockaddr_in sin;
            memcpy(&sin, &req.ifr_addr, sizeof sin);
            char text[INET_ADDRSTRLEN];
            if (!inet_ntop(AF_INET, &sin.sin_addr, text, sizeof text)) continue;
            // Exact name match; the last IPv4 record of that name wins.
            if (strlen(ifname) < IFNAMSIZ && strncmp(req.ifr_name, ifname, IFNAMSIZ) == 0) {
                memcpy(result, text, strlen(text) + 1);
            }
        }
        free(ifc.ifc_buf);
    }
    close(fd);
    return 0;
}

QB_API int get_system_info(int* memory_total, int* memory_free, int* uptime) {
    struct sysinfo info;
    if (sysinfo(&info) != 0) return -1;
    if (memory_total) *memory_total = clamp_mib(info.totalram, info.mem_unit);
    if (memory_free) *memory_free = clamp_mib(info.freeram, info.mem_unit);
    if (uptime) {
        const long hours = info.uptime / 3600;
        *uptime = hours > INT_MAX ? INT_MAX : static_cast<int>(hours);
    }
    return 0;
}

}  // extern "C"
