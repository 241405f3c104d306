# The server folder also holds what the client shares with it (send queue,
# reassembly, the message and send-queue limits of websocket_server.h).
qb_component(ENABLE_WEBSOCKET_SERVER
  PACKAGES libwebsockets
  HEADERS websocket_server.h qb_websocket_server.hpp)
