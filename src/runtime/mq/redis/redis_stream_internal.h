// The record behind Redis_Client, and the hooks the queue backend uses to
// survive a broken connection and to end a blocking read from another thread.
#pragma once

#include <hiredis/hiredis.h>

#include <atomic>
#include <mutex>
#include <string>

struct redis_stream_handle {
    redisContext* c = nullptr;
    // One command at a time on c; a blocking read holds it while it waits.
    std::mutex io;
    // Guards replacing c against an interrupt from another thread, so a
    // shutdown never reaches a descriptor number that was closed and reused.
    std::mutex ctx_lock;
    int fd = -1;           // under ctx_lock
    bool closing = false;  // under ctx_lock
    bool reading = false;  // under ctx_lock: a blocking read is in flight
    // Bumped by every reconnection: the server may have lost the groups.
    std::atomic<unsigned> generation{0};
    bool lost_logged = false;  // under io
    // Replies of commands sent without waiting, read before the next command.
    int deferred = 0;  // under io
    std::string host;
    int port = 0;
};

// XACK on the group "default".
int redis_client_ack_data(redis_stream_handle* handle, char* queue, char* message_id);

namespace qb {

// True when the connection has failed and every command would fail at once.
bool redis_client_broken(redis_stream_handle* h);
// One connection attempt replacing the broken one; 0 on success. Fails
// without trying once the client is being interrupted.
int redis_client_reconnect(redis_stream_handle* h);
// Ends a blocking read in progress (shutdown of the socket) and refuses any
// later read or reconnection; other commands in flight finish. Safe from any
// thread; does not wait for the io lock.
void redis_client_interrupt(redis_stream_handle* h);
// One command on the connection under its io lock (replies deferred earlier
// are read first). lens may be null for NUL-terminated arguments. Null on a
// broken connection.
redisReply* redis_run(redis_stream_handle* h, int argc, const char** argv, const size_t* lens = nullptr);
// The same for a read that may block: redis_client_interrupt ends it, and it
// is refused once the client is being interrupted.
redisReply* redis_run_blocking(redis_stream_handle* h, int argc, const char** argv);
// Sends a command without waiting for its reply; the next command on the
// connection reads that reply first, so commands keep their order.
void redis_run_deferred(redis_stream_handle* h, int argc, const char** argv);
// Blocks SIGPIPE for the calling thread for good, sparing its commands the
// per-command mask changes (for a thread that only talks to Redis).
void redis_client_block_sigpipe_on_this_thread();

}  // namespace qb
