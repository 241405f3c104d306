// qb-sim: a small platform simulator for one component. It appends requests
// to the component's receive stream the way the platform does ("id" and an
// input port field) and reads the answers from the component's send stream.
#include <hiredis/hiredis.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

struct Options {
    std::string host = "127.0.0.1";
    int port = 6379;
    std::string recv_stream;  // the component's receive stream: requests go here
    std::string send_stream;  // the component's send stream: answers come from here
    std::string port_name = "in1";
    std::string id;
    int timeout_s = 10;
    long count = 1000;
    int concurrency = 16;
    size_t size = 16;
};

struct ReplyFree {
    void operator()(redisReply* r) const {
        if (r) freeReplyObject(r);
    }
};
using Reply = std::unique_ptr<redisReply, ReplyFree>;

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Entry {
    std::string id;
    Fields fields;
    std::string get(const std::string& name) const {
        for (const auto& [k, v] : fields)
            if (k == name) return v;
        return "";
    }
};

[[noreturn]] void die(const std::string& what) {
    fprintf(stderr, "qb-sim: %s\n", what.c_str());
    exit(1);
}

redisContext* connect(const Options& o) {
    redisContext* c = redisConnectWithTimeout(o.host.c_str(), o.port, {2, 0});
    if (!c || c->err) die("cannot connect to " + o.host + ":" + std::to_string(o.port) + ": " + (c ? c->errstr : "?"));
    return c;
}

Reply command(redisContext* c, const std::vector<std::string>& args) {
    std::vector<const char*> argv;
    std::vector<size_t> lens;
    for (const auto& a : args) {
        argv.push_back(a.data());
        lens.push_back(a.size());
    }
    Reply r(static_cast<redisReply*>(redisCommandArgv(c, static_cast<int>(argv.size()), argv.data(), lens.data())));
    if (!r) die(std::string("connection failed: ") + c->errstr);
    if (r->type == REDIS_REPLY_ERROR) die(std::string("redis: ") + r->str);
    return r;
}

// The newest entry id of a stream, so answers are read from there on.
std::string last_id(redisContext* c, const std::string& stream) {
    Reply r = command(c, {"XREVRANGE", stream, "+", "-", "COUNT", "1"});
    if (r->type == REDIS_REPLY_ARRAY && r->elements > 0) return r->element[0]->element[0]->str;
    return "0-0";
}

// Entries of an XREAD reply on one stream.
std::vector<Entry> entries_of(const redisReply* r) {
    std::vector<Entry> out;
    if (!r || r->type != REDIS_REPLY_ARRAY || r->elements < 1) return out;
    const redisReply* stream = r->element[0];
    if (stream->type != REDIS_REPLY_ARRAY || stream->elements < 2) return out;
    const redisReply* list = stream->element[1];
    for (size_t i = 0; i < list->elements; ++i) {
        const redisReply* e = list->element[i];
        if (e->type != REDIS_REPLY_ARRAY || e->elements < 2) continue;
        Entry entry;
        entry.id = e->element[0]->str;
        const redisReply* f = e->element[1];
        for (size_t j = 0; f && f->type == REDIS_REPLY_ARRAY && j + 1 < f->elements; j += 2)
            entry.fields.emplace_back(std::string(f->element[j]->str, f->element[j]->len),
                                      std::string(f->element[j + 1]->str, f->element[j + 1]->len));
        out.push_back(std::move(entry));
    }
    return out;
}

// Blocks up to block_ms for entries after *from; advances *from.
std::vector<Entry> read_after(redisContext* c, const std::string& stream, std::string* from, int block_ms) {
    Reply r = command(c, {"XREAD", "COUNT", "512", "BLOCK", std::to_string(block_ms), "STREAMS", stream, *from});
    auto out = entries_of(r.get());
    if (!out.empty()) *from = out.back().id;
    return out;
}

void print_entry(const Entry& e) {
    printf("%s", e.id.c_str());
    for (const auto& [k, v] : e.fields) printf(" %s=%s", k.c_str(), v.c_str());
    printf("\n");
    fflush(stdout);
}

std::string request_id(long i) { return "sim-" + std::to_string(getpid()) + "-" + std::to_string(i); }

int cmd_send(const Options& o, const std::string& data) {
    redisContext* c = connect(o);
    std::string from = last_id(c, o.send_stream);
    const std::string id = o.id.empty() ? request_id(0) : o.id;
    command(c, {"XADD", o.recv_stream, "*", "id", id, o.port_name, data});
    printf("sent %s %s=%s to %s\n", id.c_str(), o.port_name.c_str(), data.c_str(), o.recv_stream.c_str());
    const auto deadline = Clock::now() + std::chrono::seconds(o.timeout_s);
    int answers = 0;
    // The answer should be alone; keep reading briefly for a duplicate.
    while (Clock::now() < deadline) {
        for (const auto& e : read_after(c, o.send_stream, &from, answers ? 200 : 500)) {
            if (e.get("request_id") != id) continue;
            ++answers;
            print_entry(e);
        }
        if (answers) break;
    }
    redisFree(c);
    if (!answers) {
        fprintf(stderr, "qb-sim: no answer within %d s\n", o.timeout_s);
        return 2;
    }
    return 0;
}

int cmd_listen(const Options& o) {
    redisContext* c = connect(o);
    std::string from = last_id(c, o.send_stream);
    for (;;)
        for (const auto& e : read_after(c, o.send_stream, &from, 0)) print_entry(e);
}

double percentile(std::vector<double>& v, double p) {
    if (v.empty()) return 0;
    size_t k = static_cast<size_t>(p / 100.0 * static_cast<double>(v.size() - 1) + 0.5);
    std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
    return v[k];
}

int cmd_load(const Options& o) {
    redisContext* writer = connect(o);
    redisContext* reader = connect(o);
    std::string from = last_id(reader, o.send_stream);
    const std::string payload(o.size, 'x');

    std::mutex m;
    std::condition_variable cv;
    std::map<std::string, Clock::time_point> sent_at;
    std::map<std::string, int> answered;
    std::map<std::string, long> per_node;
    std::vector<double> latency_ms;
    long outstanding = 0;
    bool done = false;

    std::thread reading([&] {
        const auto deadline_step = std::chrono::seconds(o.timeout_s);
        auto idle_deadline = Clock::now() + deadline_step;
        for (;;) {
            auto got = read_after(reader, o.send_stream, &from, 100);
            const auto now = Clock::now();
            std::lock_guard<std::mutex> lock(m);
            for (const auto& e : got) {
                auto it = sent_at.find(e.get("request_id"));
                if (it == sent_at.end()) continue;
                if (answered[it->first]++ == 0) {
                    latency_ms.push_back(std::chrono::duration<double, std::milli>(now - it->second).count());
                    per_node[e.get("node_id")]++;
                    --outstanding;
                }
                idle_deadline = now + deadline_step;
            }
            cv.notify_all();
            if ((done && outstanding == 0) || now > idle_deadline) return;
        }
    });

    const auto t0 = Clock::now();
    // Requests go out in pipelined batches filling the free slots, so the
    // simulator is not what limits the component.
    for (long next = 0; next < o.count;) {
        std::vector<std::string> ids;
        {
            std::unique_lock<std::mutex> lock(m);
            if (!cv.wait_for(lock, std::chrono::seconds(o.timeout_s), [&] { return outstanding < o.concurrency; }))
                break;
            const auto now = Clock::now();
            for (; next < o.count && outstanding < o.concurrency; ++next, ++outstanding) {
                ids.push_back(request_id(next));
                sent_at[ids.back()] = now;
            }
        }
        for (const auto& id : ids) {
            const char* argv[] = {"XADD", o.recv_stream.c_str(), "*", "id", id.c_str(), o.port_name.c_str(),
                                  payload.c_str()};
            redisAppendCommandArgv(writer, 7, argv, nullptr);
        }
        for (size_t i = 0; i < ids.size(); ++i) {
            void* r = nullptr;
            if (redisGetReply(writer, &r) != REDIS_OK) die(std::string("connection failed: ") + writer->errstr);
            freeReplyObject(r);
        }
    }
    {
        std::lock_guard<std::mutex> lock(m);
        done = true;
    }
    reading.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();

    long unique = static_cast<long>(answered.size());
    long duplicates = 0;
    for (const auto& [id, n] : answered) duplicates += n - 1;
    std::string nodes;
    for (const auto& [node, n] : per_node) nodes += (nodes.empty() ? "" : ",") + node + ":" + std::to_string(n);
    // lost: never answered within the time-out; duplicates: answered more than once.
    printf("requests   %ld sent, %ld answered, %ld lost, %ld duplicate answers\n", static_cast<long>(sent_at.size()),
           unique, static_cast<long>(sent_at.size()) - unique, duplicates);
    printf("throughput %.0f requests/s over %.2f s (concurrency %d)\n", static_cast<double>(unique) / seconds, seconds,
           o.concurrency);
    printf("latency    p50 %.3f ms, p90 %.3f ms, p99 %.3f ms\n", percentile(latency_ms, 50), percentile(latency_ms, 90),
           percentile(latency_ms, 99));
    printf("nodes      %s\n", nodes.empty() ? "-" : nodes.c_str());
    redisFree(writer);
    redisFree(reader);
    return (unique == o.count && duplicates == 0) ? 0 : 3;
}

// -h asks for it: standard output and success; anything else is a usage error.
[[noreturn]] void usage(int status = 1) {
    fprintf(status ? stderr : stdout,
            "usage: qb-sim [options] send DATA | listen | load\n"
            "  -H HOST            Redis host (127.0.0.1)\n"
            "  -p PORT            Redis port (6379)\n"
            "  --recv STREAM      the component's receive stream (QB_STREAM_RECV_QUEUE)\n"
            "  --send STREAM      the component's send stream (QB_STREAM_SEND_QUEUE)\n"
            "  --port-name NAME   input port field of requests (in1)\n"
            "  --id ID            request id for send (generated)\n"
            "  --timeout S        give up after S seconds without an answer (10)\n"
            "  -n N               load: number of requests (1000)\n"
            "  -c C               load: requests in flight at once (16)\n"
            "  --size BYTES       load: request payload size (16)\n");
    exit(status);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (const char* v = getenv("QB_STREAM_RECV_QUEUE")) o.recv_stream = v;
    if (const char* v = getenv("QB_STREAM_SEND_QUEUE")) o.send_stream = v;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage();
            return argv[++i];
        };
        if (a == "-H") o.host = value();
        else if (a == "-p") o.port = atoi(value().c_str());
        else if (a == "--recv") o.recv_stream = value();
        else if (a == "--send") o.send_stream = value();
        else if (a == "--port-name") o.port_name = value();
        else if (a == "--id") o.id = value();
        else if (a == "--timeout") o.timeout_s = atoi(value().c_str());
        else if (a == "-n") o.count = atol(value().c_str());
        else if (a == "-c") o.concurrency = std::max(1, atoi(value().c_str()));
        else if (a == "--size") o.size = static_cast<size_t>(atol(value().c_str()));
        else if (a == "-h" || a == "--help") usage(0);
        else rest.push_back(a);
    }
    if (rest.empty() || o.recv_stream.empty() || o.send_stream.empty()) usage();
    if (rest[0] == "send" && rest.size() == 2) return cmd_send(o, rest[1]);
    if (rest[0] == "listen") return cmd_listen(o);
    if (rest[0] == "load") return cmd_load(o);
    usage();
}
