// Our HTTP server against real clients: curl for most requests (--path-as-is
// so traversal attempts reach us unmodified) and raw sockets where a client
// must misbehave.
#include <arpa/inet.h>
#include <json-c/json.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "http_server.h"
#include "support/test_support.h"

using qbtest::mut;

namespace {

struct Reply {
    int status = 0;
    std::string headers;
    std::string body;
};

Reply curl(int port, const std::string& args) {
    std::string cmd = "curl -s -i --path-as-is --max-time 10 " + args, raw;
    for (size_t at; (at = cmd.find("@PORT")) != std::string::npos;)
        cmd.replace(at, 5, "http://127.0.0.1:" + std::to_string(port));
    qbtest::run_command(cmd, &raw);
    Reply r;
    size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) return r;
    r.headers = raw.substr(0, end + 2);
    r.body = raw.substr(end + 4);
    sscanf(raw.c_str(), "HTTP/%*s %d", &r.status);
    return r;
}

// What the callbacks saw, by URL.
std::mutex g_mu;
std::map<std::string, std::string> g_seen;

std::string text(json_object* o) { return o ? json_object_to_json_string_ext(o, JSON_C_TO_STRING_PLAIN) : "null"; }

void record(http_server_cb_param* p, const char* who) {
    std::string files = text(p->file_obj);
    // An upload is a temporary file that must exist during the request.
    if (p->file_obj) {
        json_object_iter it;
        json_object_object_foreachC(p->file_obj, it) files += "|" + qbtest::read_file(json_object_get_string(it.val));
    }
    std::lock_guard<std::mutex> lock(g_mu);
    g_seen[std::string(who) + " " + p->url] =
        "get=" + text(p->get_obj) + " post=" + text(p->post_obj) + " files=" + files + " cookies=" + text(p->cookie_jobj);
}

void on_get(http_server_cb_param* p) {
    record(p, "GET");
    SDK_HTTP_Server_Send_Response(p->handle, 200, mut("application/json"), mut("{\"ok\":1}"), 8);
    SDK_HTTP_Server_Send_Cookie(p->handle, mut("sid"), mut("abc"), 60);
}
void on_post(http_server_cb_param* p) {
    record(p, "POST");
    SDK_HTTP_Server_Send_Response(p->handle, 201, mut("text/plain"), mut("made"), 4);
}
void on_download(http_server_cb_param* p) {
    SDK_HTTP_Server_Send_File_Response(p->handle, mut("a\"b\r\nX-Evil: 1\r\n.bin"), mut("\x01\x02\x03"), 3);
}
void on_big(http_server_cb_param* p) {
    std::string big(32 << 20, 'x');
    SDK_HTTP_Server_Send_Response(p->handle, 200, mut("text/plain"), big.data(), static_cast<int>(big.size()));
}
void on_api(http_server_cb_param* p) { record(p, "GET-api"); }

class HttpServer : public testing::Test {
protected:
    void SetUp() override {
        g_seen.clear();
        std::string w = dir.file("webroot");
        for (const char* d : {"", "/img", "/docs", "/lib"}) mkdir((w + d).c_str(), 0755);
        qbtest::write_file(w + "/index.html", "<p>home</p>");
        qbtest::write_file(w + "/img/logo.png", "png");
        qbtest::write_file(w + "/img/LOGO.PNG", "PNG");
        qbtest::write_file(w + "/lib/app.json", "{}");
        qbtest::write_file(w + "/docs/index.html", "docs");
        qbtest::write_file(dir.file("secret"), "top secret");
        symlink(dir.file("secret").c_str(), (w + "/link").c_str());
        server = SDK_HTTP_Server_Start(0, nullptr, nullptr);
        ASSERT_NE(server, nullptr);
        port = SDK_HTTP_Server_Port(server);
        SDK_HTTP_Server_Register_CGI(server, SDK_HTTP_METHOD_GET, mut("/api/status"), on_get);
        SDK_HTTP_Server_Register_CGI(server, SDK_HTTP_METHOD_GET, mut("/api"), on_api);
        SDK_HTTP_Server_Register_CGI(server, SDK_HTTP_METHOD_POST, mut("/api/set"), on_post);
        SDK_HTTP_Server_Register_CGI(server, SDK_HTTP_METHOD_GET, mut("/download"), on_download);
        SDK_HTTP_Server_Register_CGI(server, SDK_HTTP_METHOD_GET, mut("/big"), on_big);
    }
    void TearDown() override {
        if (server) {
            EXPECT_EQ(SDK_HTTP_Server_Stop(server), 0);
        }
    }
    std::string seen(const std::string& key) {
        std::lock_guard<std::mutex> lock(g_mu);
        return g_seen.count(key) ? g_seen[key] : "(not run)";
    }

    qbtest::TempDir dir;
    qbtest::ScopedChdir cd{dir.path()};
    HttpServerHandle server = nullptr;
    int port = 0;
};

TEST_F(HttpServer, RoutesQueriesFormsJsonUploadsAndCookiesToTheMatchingEntries) {
    Reply r = curl(port, "-b 'k=v; t=2' '@PORT/api/status?id=1'");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "{\"ok\":1}");
    EXPECT_NE(r.headers.find("Content-Type: application/json"), std::string::npos);
    EXPECT_NE(r.headers.find("Set-Cookie: sid=abc; Expires="), std::string::npos);
    EXPECT_EQ(seen("GET /api/status"), "get={\"id\":\"1\"} post=null files=null cookies={\"k\":\"v\",\"t\":\"2\"}");
    EXPECT_EQ(seen("GET-api /api/status"), "(not run)");

    // Data in the body makes it a POST only, whatever the query says.
    r = curl(port, "-H 'Content-Type: application/json' -d '{\"a\":1}' '@PORT/api/set?x=2'");
    EXPECT_EQ(r.status, 201);
    EXPECT_EQ(seen("POST /api/set"), "get=null post={\"a\":1} files=null cookies=null");

    curl(port, "--data-urlencode 'name=a b&c' -d 'n=%41' @PORT/api/set");
    EXPECT_EQ(seen("POST /api/set"), "get=null post={\"name\":\"a b&c\",\"n\":\"A\"} files=null cookies=null");

    qbtest::write_file(dir.file("up.txt"), "uploaded bytes");
    curl(port, "-F note=hi -F 'doc=@" + dir.file("up.txt") + "' @PORT/api/set");
    std::string s = seen("POST /api/set");
    EXPECT_NE(s.find("post={\"note\":\"hi\",\"doc\":\"up.txt\"}"), std::string::npos) << s;
    EXPECT_NE(s.find("|uploaded bytes"), std::string::npos) << s;

    // JSON that does not parse runs no POST entry; an unknown type writes nothing.
    g_seen.clear();
    curl(port, "-H 'Content-Type: application/json' -d '{broken' @PORT/api/set");
    curl(port, "-H 'Content-Type: text/csv' -d 'a,b' @PORT/api/set");
    EXPECT_EQ(seen("POST /api/set"), "(not run)");

    r = curl(port, "-X PUT -d x @PORT/api/set");
    EXPECT_EQ(r.status, 501);
    EXPECT_EQ(r.body, "<h1>Work in progress...</h1>\n");
}

TEST_F(HttpServer, ServesRegularFilesInsideWebrootOnlyAndAnswers404Otherwise) {
    struct {
        const char* path;
        int status;
        const char* type;
        const char* body;
    } cases[] = {
        {"/", 200, "text/html", "<p>home</p>"},
        {"/img/logo.png", 200, "image/PNG", "png"},
        {"/img/LOGO.PNG", 200, "image/png", "PNG"},
        {"/lib/app.json", 200, "application/javascript", "{}"},
        {"/docs/", 200, "text/html", "docs"},
        {"/missing", 404, "text/html", "404 Not Found"},
        {"/docs", 404, "text/html", "404 Not Found"},  // a directory
        {"/../secret", 404, "text/html", "404 Not Found"},
        {"/%2e%2e/secret", 404, "text/html", "404 Not Found"},
        {"/img/%2E%2E/%2e%2e/secret", 404, "text/html", "404 Not Found"},
        {"/link", 404, "text/html", "404 Not Found"},  // symlink leading out
        {"/index.html%00.png", 404, "text/html", "404 Not Found"},
    };
    for (const auto& c : cases) {
        Reply r = curl(port, std::string("'@PORT") + c.path + "'");
        EXPECT_EQ(r.status, c.status) << c.path;
        EXPECT_NE(r.headers.find(std::string("Content-Type: ") + c.type + "\r\n"), std::string::npos) << c.path;
        EXPECT_EQ(r.body, c.body) << c.path;
    }
    // A custom not-found page keeps the 404 status.
    qbtest::write_file(dir.file("webroot/404.html"), "<p>gone</p>");
    Reply r = curl(port, "@PORT/nothing");
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.body, "<p>gone</p>");
}

TEST_F(HttpServer, DownloadHeaderCannotBeInjectedAndTheTableHoldsOnly128Entries) {
    Reply r = curl(port, "@PORT/download");
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.headers.find("Content-Disposition: attachment;filename=abX-Evil: 1.bin\r\n"), std::string::npos)
        << r.headers;
    EXPECT_EQ(r.headers.find("\r\nX-Evil"), std::string::npos);
    EXPECT_EQ(r.body, "\x01\x02\x03");

    for (int i = 5; i < 128; ++i) SDK_HTTP_Server_Register_CGI(server, SDK_HTTP_METHOD_GET, mut("/filler"), on_api);
    SDK_HTTP_Server_Register_CGI(server, SDK_HTTP_METHOD_GET, mut("/late"), on_get);
    EXPECT_EQ(curl(port, "@PORT/late").status, 404);
    // An entry that writes nothing still counts as handling the request.
    Reply f = curl(port, "@PORT/filler");
    EXPECT_EQ(f.status, 200);
    EXPECT_EQ(f.body, "");
}

TEST_F(HttpServer, ATakenPortFailsStartAndAVanishingClientCannotEndTheProcess) {
    EXPECT_EQ(SDK_HTTP_Server_Start(port, nullptr, nullptr), nullptr);

    // Default SIGPIPE disposition: a write to the closed socket would kill us.
    signal(SIGPIPE, SIG_DFL);
    for (int i = 0; i < 3; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        const char req[] = "GET /big HTTP/1.1\r\nHost: x\r\n\r\n";
        ASSERT_EQ(write(fd, req, sizeof req - 1), static_cast<ssize_t>(sizeof req - 1));
        char buf[1024];
        ASSERT_GT(read(fd, buf, sizeof buf), 0);
        close(fd);
    }
    EXPECT_EQ(curl(port, "@PORT/").status, 200);
}

}  // namespace
