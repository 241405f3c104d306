#include "runtime/storage/oss/oss_auth.h"

#include <arpa/inet.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <strings.h>

namespace qb::oss {

namespace {
std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool starts_with_nocase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && strncasecmp(s.data(), prefix.data(), prefix.size()) == 0;
}

bool is_ip_host(std::string_view host) {
    if (!host.empty() && host.front() == '[') return true;  // IPv6 literal
    size_t colon = host.rfind(':');
    std::string name(host.substr(0, colon));
    in_addr addr;
    return inet_pton(AF_INET, name.c_str(), &addr) == 1;
}
}  // namespace

std::string string_to_sign(std::string_view verb, std::string_view content_md5, std::string_view content_type,
                           std::string_view date, const header_list& headers, std::string_view resource) {
    header_list oss;
    for (const auto& [name, value] : headers) {
        std::string n = lower(name);
        if (n.compare(0, 6, "x-oss-") == 0) oss.emplace_back(n, std::string(trim(value)));
    }
    std::sort(oss.begin(), oss.end());
    std::string out;
    out.append(verb).append("\n").append(content_md5).append("\n").append(content_type).append("\n");
    out.append(date).append("\n");
    for (const auto& [name, value] : oss) out.append(name).append(":").append(value).append("\n");
    return out.append(resource);
}

std::string signature(std::string_view secret, std::string_view text) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int mac_len = 0;
    if (!HMAC(EVP_sha1(), secret.data(), static_cast<int>(secret.size()),
              reinterpret_cast<const unsigned char*>(text.data()), text.size(), mac, &mac_len))
        return {};
    std::string b64(4 * ((mac_len + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(b64.data()), mac, static_cast<int>(mac_len));
    b64.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return b64;
}

std::string http_date(time_t t) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm g;
    gmtime_r(&t, &g);
    char buf[40];
    snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[g.tm_wday % 7], g.tm_mday,
             months[g.tm_mon % 12], g.tm_year + 1900, g.tm_hour, g.tm_min, g.tm_sec);
    return buf;
}

std::string encode_key(std::string_view key) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : key) {
        if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool valid_bucket(std::string_view b) {
    if (b.size() < 3 || b.size() > 63 || b.front() == '-' || b.back() == '-') return false;
    return std::all_of(b.begin(), b.end(), [](char c) { return (c >= 'a' && c <= 'z') || isdigit(c) || c == '-'; });
}

bool target_of(std::string_view endpoint, bool is_cname, std::string_view bucket, std::string_view key,
               request_target* out) {
    std::string_view scheme = "http://";
    for (std::string_view s : {"http://", "https://"})
        if (starts_with_nocase(endpoint, s)) {
            scheme = s;
            endpoint.remove_prefix(s.size());
        }
    std::string_view host = endpoint.substr(0, endpoint.find('/'));
    if (host.empty() || !valid_bucket(bucket)) return false;
    const std::string path = encode_key(key);
    out->url = std::string(scheme);
    if (is_cname)
        out->url.append(host).append("/").append(path);
    else if (is_ip_host(host))
        out->url.append(host).append("/").append(bucket).append("/").append(path);
    else
        out->url.append(bucket).append(".").append(host).append("/").append(path);
    out->resource = std::string("/").append(bucket).append("/").append(key);
    return true;
}

}  // namespace qb::oss
