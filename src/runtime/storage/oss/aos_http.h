// One HTTP exchange of the OSS layer over libcurl.
#pragma once

#include <string>
#include <vector>

#include "runtime/storage/oss/aos_sdk.h"

namespace qb::oss {

struct http_request {
    const char* method;                // "PUT", "GET", "DELETE"
    std::string url;
    std::vector<std::string> headers;  // "Name: value"
    aos_list_t* body = nullptr;        // uploaded (PUT)
    const aos_http_controller_t* ctl = nullptr;
};

// Performs the request. The answer's body is appended to *response (pieces
// allocated in p), its headers to *resp_headers when that is not null. The
// status is allocated in p; code is the HTTP status or a negative AOSE_*
// value when no answer came (error_msg says why). Bodies larger than an
// int can count are refused (AOSE_TOO_LARGE).
aos_status_t* http_send(aos_pool_t* p, const http_request& req, aos_list_t* response, aos_table_t* resp_headers);

}  // namespace qb::oss
