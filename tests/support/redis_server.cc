#include "redis_server.h"

#include "foundation/env_lock.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace qbtest {
namespace {
using Clock = std::chrono::steady_clock;

bool answers_ping(int port) {
    const struct timeval tv = {0, 200000};
    redisContext* c = redisConnectWithTimeout("127.0.0.1", port, tv);
    bool ok = false;
    if (c && !c->err) {
        auto* r = static_cast<redisReply*>(redisCommand(c, "PING"));
        ok = r && r->type == REDIS_REPLY_STATUS && strcmp(r->str, "PONG") == 0;
        if (r) freeReplyObject(r);
    }
    if (c) redisFree(c);
    return ok;
}
}  // namespace

int free_loopback_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

RedisConn::RedisConn(int port) {
    const struct timeval tv = {2, 0};
    c_ = redisConnectWithTimeout("127.0.0.1", port, tv);
}

RedisConn::~RedisConn() {
    if (c_) redisFree(c_);
}

Reply RedisConn::cmd(std::initializer_list<std::string> args) {
    if (!ok()) return nullptr;
    std::vector<const char*> argv;
    std::vector<size_t> lens;
    for (const auto& a : args) {
        argv.push_back(a.data());
        lens.push_back(a.size());
    }
    return Reply(static_cast<redisReply*>(
        redisCommandArgv(c_, static_cast<int>(argv.size()), argv.data(), lens.data())));
}

std::vector<std::vector<std::string>> RedisConn::entries(const std::string& stream) {
    std::vector<std::vector<std::string>> out;
    Reply r = cmd({"XRANGE", stream, "-", "+"});
    for (size_t i = 0; r && r->type == REDIS_REPLY_ARRAY && i < r->elements; ++i) {
        const redisReply* fields = r->element[i]->element[1];
        out.emplace_back();
        for (size_t j = 0; j < fields->elements; ++j) out.back().emplace_back(fields->element[j]->str ?: "");
    }
    return out;
}

RedisServer::RedisServer() {
    char tmpl[] = "/tmp/qb-redis-XXXXXX";
    if (!mkdtemp(tmpl)) {
        error_ = "mkdtemp failed";
        return;
    }
    dir_ = tmpl;
    // Another process may take the probed port before redis binds it.
    for (int attempt = 0; attempt < 3 && !running(); ++attempt) {
        port_ = free_loopback_port();
        if (port_ > 0) launch();
    }
}

RedisServer::~RedisServer() {
    stop();
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

bool RedisServer::launch() {
    const std::string log = dir_ + "/redis.log";
    proc_ = std::make_unique<PeerProcess>(std::vector<std::string>{"redis-server", "--port", port_text(), "--bind",
        "127.0.0.1", "--save", "", "--appendonly", "no", "--dir", dir_, "--daemonize", "no", "--logfile", log});
    for (const auto deadline = Clock::now() + std::chrono::seconds(10); Clock::now() < deadline;) {
        if (answers_ping(port_)) {
            error_.clear();
            return true;
        }
        if (!proc_->running()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = "redis-server did not answer PING (see " + log + "): " + proc_->output();
    proc_.reset();
    return false;
}

void RedisServer::stop() { proc_.reset(); }

void RedisServer::kill() {
    if (proc_) proc_->kill();
    proc_.reset();
}

bool RedisServer::restart() { return running() || launch(); }

QueueEnv::QueueEnv(int port, const std::string& recv_stream, const std::string& send_stream,
                   const std::string& node_id) {
    set("QB_PARAM", nullptr);
    set("QB_NODE_ID", nullptr);
    set("QB_MQ_TYPE", "redis");
    set("QB_MQ_REDIS_HOST", "127.0.0.1");
    set("QB_MQ_REDIS_PORT", std::to_string(port).c_str());
    set("QB_STREAM_RECV_QUEUE", recv_stream.c_str());
    set("QB_STREAM_SEND_QUEUE", send_stream.c_str());
    set("QB_STREAM_NODE_ID", node_id.c_str());
}

QueueEnv::~QueueEnv() {
    std::lock_guard<std::mutex> lock(qb::env_mutex());
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second)
            setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            unsetenv(it->first.c_str());
    }
}

void QueueEnv::set(const std::string& name, const char* value) {
    std::lock_guard<std::mutex> lock(qb::env_mutex());
    const char* old = getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value)
        setenv(name.c_str(), value, 1);
    else
        unsetenv(name.c_str());
}

}  // namespace qbtest
