// A request path, form body, download name and cookie from any bytes: the
// static-file name never leaves webroot and the composed header values never
// carry a line break or a quote.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "net/http/server/http_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    char name[100];
    if (qb::http::static_file_name(in, name, sizeof name)) {
        std::string n = std::string("/") + name + "/";
        if (strncmp(name, "webroot/", 8) != 0 || n.find("/../") != std::string::npos) abort();
    }
    qb::http::decode_form(in, [](std::string&&, std::string&&) {});

    std::string text(in.substr(0, in.find('\0')));
    char disposition[100];
    qb::http::content_disposition(text.c_str(), disposition, sizeof disposition);
    if (strpbrk(disposition, "\r\n\"'")) abort();
    size_t half = text.size() / 2;
    std::string key = text.substr(0, half), value = text.substr(half);
    std::string cookie = qb::http::set_cookie(key.c_str(), value.c_str(), static_cast<int>(size) - 50, time(nullptr));
    if (cookie.find_first_of("\r\n") != std::string::npos) abort();
    return 0;
}
