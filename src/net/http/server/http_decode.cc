#include "net/http/server/http_decode.h"

#include <cstdio>
#include <cstring>

namespace qb::http {
namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool has_dotdot_segment(std::string_view path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (path.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

struct MimeRow {
    const char* text;
    const char* type;
};
// Order matters: the first row whose text occurs in the name wins.
constexpr MimeRow kMimeTable[] = {
    {".css", "text/css"},       {".js", "application/javascript"}, {".htm", "text/html"},
    {".md", "text/plain"},      {".JPG", "image/jpeg"},            {".jpg", "image/jpeg"},
    {".PNG", "image/png"},      {".png", "image/PNG"},             {".zip", "application/zip"},
    {".ico", "image/x-icon"},
};

bool cookie_safe(const char* s, bool is_key) {
    if (!*s && is_key) return false;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p; ++p) {
        if (*p < 0x20 || *p == 0x7f || *p == ';') return false;
        if (is_key && (*p == '=' || *p == ' ')) return false;
    }
    return true;
}

}  // namespace

std::string percent_decode(std::string_view in, bool plus_is_space) {
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '%' && i + 2 < in.size()) {
            int hi = hex_value(in[i + 1]), lo = hex_value(in[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi << 4 | lo));
                i += 2;
                continue;
            }
        }
        out.push_back(plus_is_space && c == '+' ? ' ' : c);
    }
    return out;
}

void decode_form(std::string_view body, const std::function<void(std::string&&, std::string&&)>& pair) {
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string_view::npos) end = body.size();
        std::string_view item = body.substr(start, end - start);
        if (!item.empty()) {
            size_t eq = item.find('=');
            if (eq == std::string_view::npos)
                pair(percent_decode(item, true), std::string());
            else
                pair(percent_decode(item.substr(0, eq), true), percent_decode(item.substr(eq + 1), true));
        }
        start = end + 1;
    }
}

bool path_has_nul(std::string_view raw_path) {
    return percent_decode(raw_path, false).find('\0') != std::string::npos;
}

bool static_file_name(std::string_view raw_path, char* out, size_t out_size) {
    if (raw_path.empty() || raw_path[0] != '/') return false;
    std::string path = percent_decode(raw_path, false);
    if (path.find('\0') != std::string::npos || has_dotdot_segment(path)) return false;
    const char* rel = path.c_str() + 1;
    int n = path.back() == '/' ? snprintf(out, out_size, "webroot/%s/index.html", rel)
                               : snprintf(out, out_size, "webroot/%s", rel);
    return n >= 0 && static_cast<size_t>(n) < out_size;
}

const char* mime_type(const char* file_name) {
    for (const MimeRow& row : kMimeTable)
        if (strstr(file_name, row.text)) return row.type;
    return nullptr;
}

void content_disposition(const char* file_name, char* out, size_t out_size) {
    static constexpr char kPrefix[] = "attachment;filename=";
    std::string name;
    for (const char* p = file_name ? file_name : ""; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != 0x7f && c != '"' && c != '\'') name.push_back(*p);
    }
    size_t room = out_size > sizeof kPrefix ? out_size - sizeof kPrefix : 0;
    if (name.size() > room) {
        // Cut before a whole UTF-8 character, never inside one.
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xc0) == 0x80) --cut;
        name.resize(cut);
    }
    snprintf(out, out_size, "%s%s", kPrefix, name.c_str());
}

std::string set_cookie(const char* key, const char* value, int timeout, time_t now) {
    if (!key || !value || !cookie_safe(key, true) || !cookie_safe(value, false)) return {};
    std::string out = std::string(key) + "=" + value;
    if (timeout < 0) return out;
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    time_t when = timeout == 0 ? 0 : now + timeout;
    struct tm tm;
    gmtime_r(&when, &tm);
    char date[64];
    snprintf(date, sizeof date, "; Expires=%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday], tm.tm_mday,
             kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return out + date;
}

}  // namespace qb::http
