// qb-ws-client: sends {"port":...,"message":...} to a stand-alone component
// and prints what comes back, waiting for the separator after each request.
#include <json-c/json.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>

#include "qb_mq_fake.h"
#include "sdk_logger.h"
#include "websocket_client.h"

namespace {

struct State {
    std::mutex mu;
    std::condition_variable cv;
    bool open = false, closed = false;
    int separators = 0;
};

void usage(FILE* to = stderr) {
    fprintf(to,
            "usage: qb-ws-client [-H HOST] [-p PORT] [-t SECONDS] INPUT_PORT [MESSAGE]\n"
            "  sends {\"port\":INPUT_PORT,\"message\":MESSAGE} to a stand-alone component (default\n"
            "  127.0.0.1:10000) and prints each answer; without MESSAGE every line of standard\n"
            "  input is one message. Exit status 1 when a request got no answer in time.\n");
}

std::string request(const char* port, const std::string& message) {
    json_object* o = json_object_new_object();
    json_object_object_add(o, "port", json_object_new_string(port));
    json_object_object_add(o, "message", json_object_new_string_len(message.data(), static_cast<int>(message.size())));
    std::string text = json_object_to_json_string_ext(o, JSON_C_TO_STRING_PLAIN);
    json_object_put(o);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    int port = QB_MQ_FAKE_PORT;
    int timeout_s = 5;
    int opt;
    while ((opt = getopt(argc, argv, "H:p:t:h")) != -1) {
        switch (opt) {
        case 'H': host = optarg; break;
        case 'p': port = atoi(optarg); break;
        case 't': timeout_s = atoi(optarg); break;
        default: usage(opt == 'h' ? stdout : stderr); return opt == 'h' ? 0 : 2;
        }
    }
    if (optind >= argc || argc - optind > 2 || port <= 0 || timeout_s <= 0) {
        usage();
        return 2;
    }
    sdk_set_log_level(SDK_LOG_LEVEL_WARN);
    const char* input_port = argv[optind];

    State st;
    ws_client_cb_param hooks{};
    hooks.callback = [](WS_Handle, int, char* data, int length, void* user) {
        auto* s = static_cast<State*>(user);
        fwrite(data, 1, static_cast<size_t>(length), stdout);
        fputc('\n', stdout);
        fflush(stdout);
        std::lock_guard<std::mutex> l(s->mu);
        if (strcmp(data, QB_MQ_FAKE_SEPARATOR) == 0) s->separators++;
        s->cv.notify_all();
    };
    hooks.onopen = [](WS_Handle, void* user) {
        auto* s = static_cast<State*>(user);
        std::lock_guard<std::mutex> l(s->mu);
        s->open = true;
        s->cv.notify_all();
    };
    hooks.onclose = [](WS_Handle, void* user) {
        auto* s = static_cast<State*>(user);
        std::lock_guard<std::mutex> l(s->mu);
        s->closed = true;
        s->cv.notify_all();
    };
    WS_Handle client = WS_Client_Start(host.data(), port, const_cast<char*>("/"), nullptr, &hooks, &st);
    if (!client) return 1;
    const auto limit = std::chrono::seconds(timeout_s);
    {
        std::unique_lock<std::mutex> l(st.mu);
        if (!st.cv.wait_for(l, limit, [&] { return st.open || st.closed; }) || !st.open) {
            fprintf(stderr, "qb-ws-client: no component at %s:%d\n", host.c_str(), port);
            l.unlock();
            WS_Client_Stop(client);
            return 1;
        }
    }
    int rc = 0, sent = 0;
    auto send_one = [&](const std::string& message) {
        std::string text = request(input_port, message);
        if (WS_Client_Send_String(client, text.data()) != 0) return false;
        sent++;
        std::unique_lock<std::mutex> l(st.mu);
        return st.cv.wait_for(l, limit, [&] { return st.separators >= sent || st.closed; }) &&
               st.separators >= sent;
    };
    if (argc - optind == 2) {
        if (!send_one(argv[optind + 1])) rc = 1;
    } else {
        std::string line;
        while (rc == 0 && std::getline(std::cin, line))
            if (!send_one(line)) rc = 1;
    }
    if (rc) fprintf(stderr, "qb-ws-client: no answer within %d s\n", timeout_s);
    WS_Client_Stop(client);
    return rc;
}
