// The Socket.IO session record and the calls its receive and transmit paths
// share. One lock per session (mu) guards the WebSocket handles, the resend
// buffer, the message id counter and the ping clock, so an emit, a resend
// pass and a ping never interleave on the wire and the reconnection thread
// never frees a client that another thread is sending through.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "socketio_client.h"
#include "websocket_client.h"

// A code byte followed by the rest of the text, laid over the received text.
struct engine_io_packet {
    char code;
    char message[];
};
struct socket_io_packet {
    char code;
    char message[];
};

struct sio_resend_buffer {
    char* buffer;  // packet text, or null when the slot is free
    char namespace_[100];
    std::vector<std::string> attachments;  // binary messages (0x04 and the bytes) that follow the text
};

struct sio_backup_param {
    char* host;
    int port;
    char* url;
    char* header_json;
    ws_client_cb_param* param;
};

struct sio_reconnect_internal {
    sio_reconnect settings;
    int cur_delay;
    int cur_attempts;
    int cur_times;
    std::atomic<int> thread_running;
    int trigger;  // mu
    sio_backup_param backup;
};

struct sio_context {
    WS_Handle ws;      // the open client used for sending; null while none is open (mu)
    WS_Handle client;  // the latest started client, stopped before the next one starts (mu)
    char* namespace_;
    sio_client_cb_param* callback;
    sio_reconnect_internal reconnect;
    sio_resend_buffer buffer[3][SIO_TX_BUFFER_SIZE];  // mu
    int tx_message_id;                                 // mu
    std::atomic<int> websocket_connected;
    std::atomic<int> stopped;
    int ping_interval;  // ms (mu)
    unsigned cur_time;  // last ping decision, os_time_now_ms (mu)
    bool closing;       // ends the ping clock (mu)
    bool starting;      // a client is being started and not yet recorded (mu)
    bool started;
    std::mutex mu;
    std::condition_variable wake;  // ping clock and reconnection thread
    std::thread reconnect_thread;
    std::thread ping_thread;
};

// Receive path (socketio_rx.cc), on the WebSocket client's thread.
void engine_io_process(sio_context* ctx, engine_io_packet* packet, int length);
void socket_io_process(sio_context* ctx, socket_io_packet* packet, int length);
void socket_io_user_data_process(sio_context* ctx, char* text, int length);

// Transmit path (socketio_tx.cc).
int SocketIO_TX_Buffered_Data(sio_context* ctx, char* namespace_);
int SocketIO_Buffer_Data(sio_context* ctx, int qos, char* event, char* text, char* namespace_);

// Session (socketio_client.cc).
namespace qb::sio {
// Disconnect processing: "disconnect" to the application, reconnection requested.
void disconnected(sio_context* ctx);
// Sends one text on the open WebSocket (or logs through the WebSocket client when none is open).
int send_text(sio_context* ctx, const char* text);
void set_ping_interval(sio_context* ctx, int ms);
// Calls the application's hooks; Close is refused while one runs on this thread.
void report(sio_context* ctx, char* namespace_, const char* event, sio_payload* payloads, int count);
void report_ack(sio_context* ctx, char* namespace_, char* event, sio_payload* payloads, int count, int id);
}  // namespace qb::sio
