// Address filling shared by the TCP and UDP helpers.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <cstring>

namespace qb::net {

// Fills an IPv4 address (addr in network order); false for a port outside 0-65535.
inline bool ipv4_address(uint32_t addr, int port, sockaddr_in* out) {
    if (port < 0 || port > 65535) return false;
    memset(out, 0, sizeof *out);
    out->sin_family = AF_INET;
    out->sin_port = htons(static_cast<uint16_t>(port));
    out->sin_addr.s_addr = addr;
    return true;
}

}  // namespace qb::net
