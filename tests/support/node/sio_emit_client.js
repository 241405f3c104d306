// The npm Socket.IO client as a benchmark anchor: connects to sio_server.js
// over WebSocket, emits "count" --count times with the same arguments as the
// benchmark's own client, the last one with an acknowledgement, and prints
// "DONE <ns>" (first emit to the last ack) before it exits.
// Options: --port N, --count N.
"use strict";
const { io } = require("socket.io-client");

function option(name, fallback) {
  const at = process.argv.indexOf(name);
  return at > 0 ? Number(process.argv[at + 1]) : fallback;
}

const count = option("--count", 1000);
const socket = io("http://127.0.0.1:" + option("--port", 0), { transports: ["websocket"], reconnection: false });
socket.on("connect_error", (err) => {
  console.log("ERROR", err.message);
  process.exit(1);
});
socket.on("connect", () => {
  const start = process.hrtime.bigint();
  for (let i = 1; i < count; i++) socket.emit("count", "hello world", { a: 1 });
  socket.emit("count", "hello world", { a: 1 }, () => {
    console.log("DONE", String(process.hrtime.bigint() - start));
    socket.close();
    process.exit(0);
  });
});
