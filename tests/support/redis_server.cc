#include "redis_server.h"

#include "foundation/env_lock.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

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
    if (!dir_.empty()) {
        unlink((dir_ + "/redis.log").c_str());
        rmdir(dir_.c_str());
    }
}

bool RedisServer::launch() {
    const std::string port = std::to_string(port_);
    const std::string log = dir_ + "/redis.log";
    std::vector<std::string> args = {"redis-server", "--port",     port,  "--bind",   "127.0.0.1", "--save",
                                     "",             "--appendonly", "no", "--dir",   dir_,        "--daemonize",
                                     "no",           "--logfile",  log};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, "redis-server", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error_ = std::string("cannot run redis-server: ") + strerror(rc);
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            error_ = "redis-server exited at start (see " + log + ")";
            return false;
        }
        if (answers_ping(port_)) {
            pid_ = pid;
            error_.clear();
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    error_ = "redis-server did not answer PING";
    return false;
}

void RedisServer::wait_exit(int sig) {
    if (pid_ <= 0) return;
    ::kill(pid_, sig);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
}

void RedisServer::stop() { wait_exit(SIGTERM); }

void RedisServer::kill() { wait_exit(SIGKILL); }

bool RedisServer::restart() {
    if (running()) return true;
    return launch();
}

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
