/*
 * The embedded HTTP server in C++ (http_server.h); conventions in
 * qb_result.hpp.
 *
 *   auto web = qb::HttpServer::start(8080);
 *   (void)web->route(SDK_HTTP_METHOD_GET, "/hello", [](qb::HttpRequest& r) {
 *       r.respond(200, "text/plain", "hi " + std::string(r.query("name").value_or("?")));
 *   });
 *
 * Handlers run on the server's threads, several at once. Routes are read
 * without a lock, like the C table: add them before requests arrive.
 */
#ifndef QB_HTTP_SERVER_HPP
#define QB_HTTP_SERVER_HPP

#include "sdk_config.h"
#ifdef ENABLE_HTTP_SERVER

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "http_server.h"
#include "qb_result.hpp"

namespace qb {

// One request, valid only during the handler; the answer is written with
// respond/append/send_file/set_cookie before the handler returns.
class HttpRequest {
public:
    explicit HttpRequest(http_server_cb_param* p) : p_(p) {}

    std::string_view path() const { return detail::view(p_->url); }
    std::optional<std::string_view> query(std::string_view name) const { return member(p_->get_obj, name); }
    // A form field, or a member of a JSON body.
    std::optional<std::string_view> form(std::string_view name) const { return member(p_->post_obj, name); }
    // The temporary file holding an uploaded field (removed after the request).
    std::optional<std::string_view> upload(std::string_view name) const { return member(p_->file_obj, name); }
    std::optional<std::string_view> cookie(std::string_view name) const { return member(p_->cookie_jobj, name); }
    // The decoded body or form, owned by the server (NULL when none).
    json_object* post_json() const { return p_->post_obj; }

    void respond(int status, std::string_view content_type, std::string_view body) const {
        SDK_HTTP_Server_Send_Response(p_->handle, status, detail::CStr(content_type), detail::bytes(body),
                                      length(body));
    }
    void append(std::string_view body) const {
        SDK_HTTP_Server_Send_Response_Body(p_->handle, detail::bytes(body), length(body));
    }
    void send_file(std::string_view file_name, std::string_view bytes) const {
        SDK_HTTP_Server_Send_File_Response(p_->handle, detail::CStr(file_name), detail::bytes(bytes), length(bytes));
    }
    // timeout_s 0 expires the cookie, a negative one makes a session cookie.
    Result<void> set_cookie(std::string_view key, std::string_view value, int timeout_s) const {
        return detail::check(
            SDK_HTTP_Server_Send_Cookie(p_->handle, detail::CStr(key), detail::CStr(value), timeout_s),
            "SDK_HTTP_Server_Send_Cookie");
    }
    http_server_cb_param* native() const { return p_; }

private:
    static std::optional<std::string_view> member(json_object* obj, std::string_view name) {
        json_object* v = nullptr;
        if (!obj || !json_object_object_get_ex(obj, std::string(name).c_str(), &v)) return std::nullopt;
        return detail::view(json_object_get_string(v));
    }
    // Bodies the C call cannot take whole are cut at INT_MAX bytes.
    static int length(std::string_view s) { return detail::fits_int(s.size()) ? int(s.size()) : INT_MAX; }
    http_server_cb_param* p_;
};

class HttpServer {
public:
    // Sees every request first; true when it answered it.
    using Handler = std::function<bool(HttpRequest& request)>;
    using RouteHandler = std::function<void(HttpRequest& request)>;

    // port 0 picks a free port (see port()).
    static Result<HttpServer> start(int port, Handler handler = {}) {
        auto s = std::make_unique<State>();
        s->handler = std::move(handler);
        HttpServerHandle h = SDK_HTTP_Server_Start(port, s->handler ? &on_request : nullptr, s.get());
        if (!h) return Error{-1, "SDK_HTTP_Server_Start"};
        return HttpServer(h, std::move(s));
    }

    // Moving stops a server this one held before its handlers go.
    HttpServer(HttpServer&&) noexcept = default;
    HttpServer& operator=(HttpServer&&) noexcept = default;
    ~HttpServer() { (void)stop(); }

    // Returns once the server's threads have ended.
    Result<void> stop() {
        if (int rc = h_.reset(); rc != 0) return Error{rc, "SDK_HTTP_Server_Stop"};
        state_.reset();
        return {};
    }
    Result<int> port() const { return detail::count(SDK_HTTP_Server_Port(h_.get()), "SDK_HTTP_Server_Port"); }

    // A handler for the exact path with GET or POST; a second handler for
    // the same method and path replaces the first.
    Result<void> route(SDK_HTTP_METHOD method, std::string_view path, RouteHandler handler) {
        if (!h_.get()) return Error{-1, "SDK_HTTP_Server_Register_CGI"};
        const bool post = method == SDK_HTTP_METHOD_POST;
        auto [it, added] = state_->routes[post].insert_or_assign(std::string(path), std::move(handler));
        if (!added) return {};
        HTTP_Server_CGI_Callback cb = post ? &on_route<SDK_HTTP_METHOD_POST> : &on_route<SDK_HTTP_METHOD_GET>;
        if (int rc = SDK_HTTP_Server_Register_CGI(h_.get(), method, detail::CStr(path), cb); rc != 0) {
            state_->routes[post].erase(it);
            return Error{rc, "SDK_HTTP_Server_Register_CGI"};
        }
        return {};
    }
    HttpServerHandle native() const { return h_.get(); }

private:
    struct State {
        Handler handler;
        std::map<std::string, RouteHandler, std::less<>> routes[2];  // GET, POST
    };
    HttpServer(HttpServerHandle h, std::unique_ptr<State> s) : h_(h), state_(std::move(s)) {}
    static int on_request(http_server_cb_param* p) noexcept {
        HttpRequest r(p);
        return static_cast<State*>(p->user)->handler(r) ? HTTP_HANDLED : HTTP_NOT_HANDLED;
    }
    template <SDK_HTTP_METHOD M>
    static void on_route(http_server_cb_param* p) noexcept {
        auto& routes = static_cast<State*>(p->user)->routes[M == SDK_HTTP_METHOD_POST];
        auto it = routes.find(detail::view(p->url));
        if (it == routes.end() || !it->second) return;
        HttpRequest r(p);
        it->second(r);
    }
    detail::Handle<HttpServerHandle, SDK_HTTP_Server_Stop> h_;  // before state_: stopped first on moves
    std::unique_ptr<State> state_;
};

}  // namespace qb

#endif /* ENABLE_HTTP_SERVER */
#endif /* QB_HTTP_SERVER_HPP */
