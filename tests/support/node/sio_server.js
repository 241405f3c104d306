// A Socket.IO 4 server that also accepts Engine.IO 3 clients, for the tests
// and benchmarks. Listens on 127.0.0.1, prints "PORT <n>" once listening and
// one line for each thing it sees, so a test can assert on them.
// Options: --port N (0: any free port), --ping-interval MS, --ping-timeout MS.
//
// Events it understands, on "/" and "/chat" alike:
//   echo ...args   emits "echo" back with the same arguments
//   ask            emits "question" asking for an acknowledgement
//   kick           disconnects the socket from the server side
//   count          counted, not printed (benchmarks); acknowledged with the running total as text
// Any event sent with an acknowledgement is answered with ("ok", {"got": event}).
"use strict";
const http = require("http");
const { Server } = require("socket.io");

function option(name, fallback) {
  const at = process.argv.indexOf(name);
  return at > 0 ? Number(process.argv[at + 1]) : fallback;
}

const httpServer = http.createServer();
const io = new Server(httpServer, {
  allowEIO3: true,
  pingInterval: option("--ping-interval", 25000),
  pingTimeout: option("--ping-timeout", 20000),
  maxHttpBufferSize: 1e8,
});

io.engine.on("connection", (conn) => {
  conn.on("packet", (p) => {
    if (p.type === "ping") console.log("PING", Date.now());
  });
});

function show(arg) {
  return Buffer.isBuffer(arg) ? "Buffer:" + arg.toString("hex") : JSON.stringify(arg);
}

for (const name of ["/", "/chat"]) {
  io.of(name).on("connection", (socket) => {
    let counted = 0;
    console.log("CONNECT", name, "EIO" + socket.conn.protocol);
    socket.on("disconnect", (reason) => console.log("DISCONNECT", name, reason));
    socket.onAny((event, ...args) => {
      const ack = typeof args[args.length - 1] === "function" ? args.pop() : null;
      if (event === "count") {
        counted++;
        if (ack) ack(String(counted));
        return;
      }
      console.log("EVENT", name, event, args.map(show).join(" ") + (ack ? " +ack" : ""));
      if (ack) ack("ok", { got: event });
      if (event === "echo") socket.emit("echo", ...args);
      if (event === "ask") socket.emit("question", "q?", () => {});
      if (event === "kick") socket.disconnect(true);
    });
  });
}

httpServer.listen(option("--port", 0), "127.0.0.1", () => {
  console.log("PORT", httpServer.address().port);
});
process.on("SIGTERM", () => {
  io.close();
  process.exit(0);
});
