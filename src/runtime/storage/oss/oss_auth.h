// The OSS request signature and request target, free of I/O.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qb::oss {

using header_list = std::vector<std::pair<std::string, std::string>>;

// VERB \n Content-MD5 \n Content-Type \n Date \n, then every x-oss- header
// as "name:value\n" (name lower-cased, value trimmed, sorted by name), then
// the canonical resource.
std::string string_to_sign(std::string_view verb, std::string_view content_md5, std::string_view content_type,
                           std::string_view date, const header_list& headers, std::string_view resource);
// Base64(HMAC-SHA1(secret, text)); empty when the digest cannot be made.
std::string signature(std::string_view secret, std::string_view text);
// RFC 1123 date in GMT ("Sun, 06 Nov 1994 08:49:37 GMT"), independent of the locale.
std::string http_date(time_t t);
// Percent-encodes everything but unreserved characters and "/".
std::string encode_key(std::string_view key);
// Bucket names: 3 to 63 of a-z, 0-9 and "-", no "-" at either end.
bool valid_bucket(std::string_view bucket);

struct request_target {
    std::string url;       // what is fetched
    std::string resource;  // what is signed: /<bucket>/<key>
};
// Virtual-hosted (<bucket>.<host>/<key>) for a domain name, the host itself
// for a CNAME endpoint, path style (<host>/<bucket>/<key>) for an IP
// address. The scheme defaults to http. False for an empty endpoint or an
// invalid bucket.
bool target_of(std::string_view endpoint, bool is_cname, std::string_view bucket, std::string_view key,
               request_target* out);

}  // namespace qb::oss
