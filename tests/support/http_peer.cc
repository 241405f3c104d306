#include "support/http_peer.h"

#include <sstream>

#include "support/python_peer.h"

namespace qbtest {
namespace {
constexpr const char* kScript = R"PY(
import json, sys, time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.serve()

    def do_POST(self):
        self.serve()

    def reply(self, code, body):
        self.send_response(code)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def serve(self):
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        seen = {"method": self.command, "path": self.path, "headers": list(self.headers.items()),
                "body": body[:4096].hex(), "length": len(body)}
        print("REQ " + json.dumps(seen), flush=True)
        path = self.path.split("?")[0]
        if path == "/big":
            self.send_response(200)
            self.send_header("Content-Length", "70000")
            self.end_headers()
            for _ in range(7):
                self.wfile.write(b"x" * 10000)
                self.wfile.flush()
                time.sleep(0.02)
        elif path == "/cut":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"partial")
            self.wfile.flush()
            self.close_connection = True
        elif path == "/slow":
            time.sleep(5)
            self.reply(200, b"late")
        elif path == "/status500":
            self.reply(500, b"oops")
        elif path.startswith("/size/"):
            n = int(path[6:])
            self.reply(200, (b"0123456789" * (n // 10 + 1))[:n])
        else:
            self.reply(200, b"ok:" + body)

server = ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
print("PORT %d" % server.server_address[1], flush=True)
server.serve_forever()
)PY";
}  // namespace

PythonHttpServer::PythonHttpServer(int port) {
    const std::string path = dir_.file("http_server.py");
    write_file(path, kScript);
    proc_ = std::make_unique<PeerProcess>(std::vector<std::string>{kSystemPython, "-u", path, std::to_string(port)});
    port_ = proc_->wait_for_port_line();
}

std::vector<HttpRequestSeen> PythonHttpServer::requests() {
    std::vector<HttpRequestSeen> out;
    std::istringstream lines(proc_->output());
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("REQ ", 0) != 0) continue;
        json_object* doc = json_tokener_parse(line.c_str() + 4);
        if (!doc) continue;
        auto str = [doc](const char* key) {
            json_object* v = nullptr;
            json_object_object_get_ex(doc, key, &v);
            return std::string(v ? json_object_get_string(v) : "");
        };
        HttpRequestSeen r{str("method"), str("path"), {}, {}, std::stoul("0" + str("length"))};
        const std::string hex = str("body");
        for (size_t i = 0; i + 1 < hex.size(); i += 2) r.body.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        json_object* headers = nullptr;
        json_object_object_get_ex(doc, "headers", &headers);
        for (size_t i = 0; headers && i < json_object_array_length(headers); ++i) {
            json_object* pair = json_object_array_get_idx(headers, i);
            r.headers.emplace_back(json_object_get_string(json_object_array_get_idx(pair, 0)),
                                   json_object_get_string(json_object_array_get_idx(pair, 1)));
        }
        out.push_back(std::move(r));
        json_object_put(doc);
    }
    return out;
}

}  // namespace qbtest
