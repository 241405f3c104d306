// An HTTP server that is not ours: Python's http.server on 127.0.0.1 (port 0
// picks a free one). Every request is printed as one "REQ <json>" line with
// "method", "path", "headers" ([name, value] pairs in order), "length" and
// the first 4096 bytes of the body in hexadecimal (the output pipe is read
// only when the test asks). Answers by path:
//   /big     70000 bytes sent in several chunks
//   /cut     announces 1000 bytes, sends 7, closes
//   /slow    answers after 5 s
//   /status500  status 500 with the body "oops"
//   /size/N  N bytes of "0123456789..." repeated
//   anything else: 200 with "ok:" followed by the request body
#pragma once

#include <json-c/json.h>

#include <memory>
#include <string>
#include <vector>

#include "support/peer_process.h"
#include "support/test_support.h"

namespace qbtest {

struct HttpRequestSeen {
    std::string method;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;  // the first 4096 bytes
    size_t length = 0;
};

class PythonHttpServer {
public:
    explicit PythonHttpServer(int port = 0);
    // 0 when the server did not come up (the reason is in output()).
    int port() const { return port_; }
    std::string output() { return proc_->output(); }
    // The requests printed so far, in order.
    std::vector<HttpRequestSeen> requests();

private:
    TempDir dir_;
    std::unique_ptr<PeerProcess> proc_;
    int port_ = 0;
};

}  // namespace qbtest
