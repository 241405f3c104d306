# Socket.IO runs over the WebSocket client.
if(ENABLE_SOCKETIO_CLIENT AND NOT ENABLE_WEBSOCKET_CLIENT)
  message(FATAL_ERROR "ENABLE_SOCKETIO_CLIENT needs ENABLE_WEBSOCKET_CLIENT (turn both off, or the client on)")
endif()
qb_component(ENABLE_SOCKETIO_CLIENT
  HEADERS socketio_client.h socketio_def.h qb_socketio.hpp)
