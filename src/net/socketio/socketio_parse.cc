// Event and ack texts: an optional "/namespace,", an optional decimal message
// id, then a JSON array whose first element is the event name (string or
// object) followed by string and object arguments. Numbers, booleans, null
// and arrays as arguments end the parse; the arguments before them are kept.
#include "net/socketio/socketio_parse.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "sdk_logger.h"

namespace qb::sio {
namespace {
constexpr const char* TAG = "SOCKETIO_RX";
constexpr size_t npos = static_cast<size_t>(-1);
constexpr int kDrop = -1;

size_t find(const char* t, size_t i, size_t len, char c) {
    if (i >= len) return npos;
    const void* p = memchr(t + i, c, len - i);
    return p ? static_cast<size_t>(static_cast<const char*>(p) - t) : npos;
}

// The quote that closes a string whose text starts at i: one preceded by an
// even number of backslashes.
size_t close_quote(const char* t, size_t i, size_t len) {
    const size_t start = i;
    for (size_t at; (at = find(t, i, len, '"')) != npos; i = at + 1) {
        size_t slashes = 0;
        while (at - slashes > start && t[at - slashes - 1] == '\\') slashes++;
        if (slashes % 2 == 0) return at;
    }
    return npos;
}

// The brace that closes the object opening at i; braces inside strings do not count.
size_t close_brace(const char* t, size_t i, size_t len) {
    size_t depth = 0;
    for (; i < len; i++) {
        const char c = t[i];
        if (c == '"') {
            i = close_quote(t, i + 1, len);
            if (i == npos) return npos;
        } else if (c == '{') {
            depth++;
        } else if (c == '}' && --depth == 0) {
            return i;
        }
    }
    return npos;
}

// The state for the array's first element at i (the event name).
int first_value(const char* t, size_t i, size_t len, int state) {
    if (i < len && t[i] == '"') return PARSE_STATE_EVENT;
    if (i < len && t[i] == '{') return PARSE_STATE_EVENT_JSON;
    LOGE(TAG, "error in state %d", state);
    return kDrop;
}

// The state for the next argument at i; END at the end of the text or on a
// type the parser does not take.
int next_value(const char* t, size_t i, size_t len, int state) {
    if (i >= len || t[i] == 0) return PARSE_STATE_END;
    if (t[i] == '{') return PARSE_STATE_BODY_JSON;
    if (t[i] == '"') return PARSE_STATE_BODY;
    if (state == PARSE_STATE_BODY_JSON)
        LOGE(TAG, "Parse state error, current state=%d, data=%c\uFFFD\uFFFD %02x", state, t[i],
             static_cast<unsigned char>(t[i]));
    else
        LOGE(TAG, "Parse state error, current state=%d", state);
    return PARSE_STATE_END;
}

}  // namespace

bool parse_user_data(char* t, size_t len, parsed_packet* out) {
    out->namespace_ = nullptr;
    out->event = nullptr;
    out->message_id = -1;
    out->count = 0;
    size_t i = 0;
    int state = PARSE_STATE_INIT;
    while (i < len && state != PARSE_STATE_END) {
        switch (state) {
        case PARSE_STATE_INIT:
            if (t[i] == '/') {
                state = PARSE_STATE_NAMESPACE;
            } else if (t[i] >= '0' && t[i] <= '9') {
                state = PARSE_STATE_EVENT_ACK_ID;  // a message id on the default namespace
            } else if (t[i] == '[') {
                state = first_value(t, i + 1, len, state);
                i++;
            } else {
                LOGE(TAG, "Error frame");
                return false;
            }
            break;
        case PARSE_STATE_NAMESPACE: {
            const size_t comma = find(t, i, len, ',');
            if (comma == npos) return false;
            t[comma] = 0;
            out->namespace_ = t + i;
            i = comma;
            if (i + 1 < len && t[i + 1] == '[') {
                i += 2;
                state = first_value(t, i, len, state);
            } else {
                i++;
                state = PARSE_STATE_EVENT_ACK_ID;
            }
            break;
        }
        case PARSE_STATE_EVENT_ACK_ID: {
            const size_t bracket = find(t, i, len, '[');
            if (bracket == npos) return false;
            t[bracket] = 0;
            const long id = strtol(t + i, nullptr, 10);
            if (id < INT_MIN || id > INT_MAX) {
                LOGE(TAG, "error in state %d", state);
                return false;
            }
            out->message_id = static_cast<int>(id);
            i = bracket + 1;
            state = i < len && t[i] == ']' ? PARSE_STATE_END : first_value(t, i, len, state);
            break;
        }
        case PARSE_STATE_EVENT: {
            const size_t quote = find(t, i + 1, len, '"');
            if (quote == npos) return false;
            t[quote] = 0;
            out->event = t + i + 1;
            i = quote + 2;
            state = next_value(t, i, len, state);
            break;
        }
        case PARSE_STATE_EVENT_JSON:
        case PARSE_STATE_BODY_JSON:
        case PARSE_STATE_BODY: {
            const bool object = state != PARSE_STATE_BODY;
            const size_t end = object ? close_brace(t, i, len) : close_quote(t, i + 1, len);
            if (end == npos) return false;
            char* value = object ? t + i : t + i + 1;
            // An object keeps its closing brace; the NUL goes over what follows it.
            const size_t nul_at = object ? end + 1 : end;
            if (nul_at < len) t[nul_at] = 0;
            i = end + 2;
            if (state == PARSE_STATE_EVENT_JSON) {
                out->event = value;
            } else if (out->count == RX_PAYLOAD_NUMBER - 1) {
                LOGE(TAG, "Too much payload triggers bug");
                state = PARSE_STATE_END;
                break;
            } else {
                out->payloads[out->count++] = sio_payload{value, 0};
            }
            state = next_value(t, i, len, state);
            break;
        }
        default:
            return false;
        }
        if (state == kDrop) return false;
    }
    out->payloads[out->count].message = nullptr;
    out->payloads[out->count].length = 0;
    return true;
}

}  // namespace qb::sio
