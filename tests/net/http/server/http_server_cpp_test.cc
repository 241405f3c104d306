// The HTTP server owner with curl as the client: routes and the general
// handler are lambdas, requests are read as views, answers written through them.
#include <atomic>

#include "qb_http_server.hpp"
#include "support/test_support.h"

namespace {

// Status line, headers and body as curl received them.
std::string curl(int port, const std::string& path, const std::string& args = "") {
    std::string out;
    qbtest::run_command("curl -s -i --max-time 10 " + args + " 'http://127.0.0.1:" + std::to_string(port) + path + "'", &out);
    return out;
}

TEST(HttpServerCpp, RoutesAndGeneralHandlerAsLambdas) {
    qbtest::TempDir dir;
    qbtest::ScopedChdir here(dir.path());  // no webroot: unanswered paths get 404
    std::atomic<int> general{0};
    auto started = qb::HttpServer::start(0, [&](qb::HttpRequest& r) {
        general++;
        if (r.path() != "/general") return false;
        r.respond(203, "text/plain", "from general");
        return true;
    });
    ASSERT_TRUE(started);
    qb::HttpServer web = std::move(*started);
    EXPECT_FALSE(started->route(SDK_HTTP_METHOD_GET, "/x", {})) << "moved-from";
    const int port = web.port().value();

    ASSERT_TRUE(web.route(SDK_HTTP_METHOD_GET, "/hello", [](qb::HttpRequest& r) {
        r.respond(200, "text/plain", "hi " + std::string(r.query("name").value_or("?")));
        r.append(r.cookie("c").value_or("-"));
        EXPECT_FALSE(r.set_cookie("bad key", "v", 10));
        EXPECT_TRUE(r.set_cookie("k", "v", -1));
    }));
    ASSERT_TRUE(web.route(SDK_HTTP_METHOD_POST, "/hello", [](qb::HttpRequest& r) {
        r.respond(201, "text/plain", "posted " + std::string(r.form("a").value_or("?")));
    }));
    ASSERT_TRUE(web.route(SDK_HTTP_METHOD_GET, "/file", [](qb::HttpRequest& r) {
        r.send_file("data.bin", std::string_view("\0\1", 2));
    }));
    ASSERT_TRUE(web.route(SDK_HTTP_METHOD_GET, "/file", [](qb::HttpRequest& r) {
        r.send_file("replaced.bin", "x");
    }));

    std::string get = curl(port, "/hello?name=ann", "-b c=7");
    EXPECT_NE(get.find("HTTP/1.1 200"), std::string::npos) << get;
    EXPECT_NE(get.find("Set-Cookie: k=v"), std::string::npos) << get;
    EXPECT_TRUE(get.ends_with("\r\n\r\nhi ann7")) << get;
    std::string post = curl(port, "/hello", "-d a=1");
    EXPECT_EQ(post.substr(0, 12), "HTTP/1.1 201") << post;
    EXPECT_TRUE(post.ends_with("\r\n\r\nposted 1"));
    std::string file = curl(port, "/file");
    EXPECT_NE(file.find("replaced.bin"), std::string::npos) << "the later handler replaced the first";
    EXPECT_TRUE(file.ends_with("\r\n\r\nx")) << file;
    EXPECT_EQ(curl(port, "/general").substr(0, 12), "HTTP/1.1 203");
    EXPECT_EQ(curl(port, "/nothing").substr(0, 12), "HTTP/1.1 404");
    EXPECT_EQ(general.load(), 5);
    EXPECT_TRUE(web.stop());
    EXPECT_FALSE(web.port());
}

}  // namespace
