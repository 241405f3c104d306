// A real redis-server on a free loopback port, without persistence, for the
// queue tests, the simulator's checks and the benchmark. Free of GoogleTest so
// benchmarks can use it too.
#pragma once

#include <hiredis/hiredis.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/peer_process.h"

namespace qbtest {

struct ReplyDeleter {
    void operator()(redisReply* r) const {
        if (r) freeReplyObject(r);
    }
};
using Reply = std::unique_ptr<redisReply, ReplyDeleter>;

// One client connection for the test's own side of the conversation.
class RedisConn {
public:
    explicit RedisConn(int port);
    ~RedisConn();
    RedisConn(const RedisConn&) = delete;
    RedisConn& operator=(const RedisConn&) = delete;
    bool ok() const { return c_ && !c_->err; }
    redisContext* get() const { return c_; }
    // Null when the connection failed.
    Reply cmd(std::initializer_list<std::string> args);
    // The field lists of a stream's entries, oldest first (none when it is missing or not a stream).
    std::vector<std::vector<std::string>> entries(const std::string& stream);

private:
    redisContext* c_ = nullptr;
};

class RedisServer {
public:
    // Starts at once; check running() and error().
    RedisServer();
    ~RedisServer();
    RedisServer(const RedisServer&) = delete;
    RedisServer& operator=(const RedisServer&) = delete;

    bool running() const { return proc_ != nullptr; }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    std::string port_text() const { return std::to_string(port_); }

    // SIGTERM and wait.
    void stop();
    // SIGKILL and wait: the clients see the connection drop.
    void kill();
    // Starts again on the same port (after stop or kill).
    bool restart();

private:
    bool launch();

    std::string dir_;
    std::string error_;
    int port_ = 0;
    std::unique_ptr<PeerProcess> proc_;
};

// A loopback TCP port nobody listens on right now.
int free_loopback_port();

// The platform parameters of a queue talking to the server on port, as
// direct variables (QB_MQ_TYPE, QB_STREAM_RECV_QUEUE, ...). Changes take the
// library's environment lock, so a running receive thread may read them.
// Everything touched is restored on destruction.
class QueueEnv {
public:
    QueueEnv(int port, const std::string& recv_stream, const std::string& send_stream, const std::string& node_id);
    ~QueueEnv();
    QueueEnv(const QueueEnv&) = delete;
    QueueEnv& operator=(const QueueEnv&) = delete;
    // value null unsets.
    void set(const std::string& name, const char* value);

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace qbtest
