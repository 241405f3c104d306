# The client builds on the pieces in the server folder and on its limits.
if(ENABLE_WEBSOCKET_CLIENT AND NOT ENABLE_WEBSOCKET_SERVER)
  message(FATAL_ERROR "ENABLE_WEBSOCKET_CLIENT needs ENABLE_WEBSOCKET_SERVER (turn both off, or the server on)")
endif()
qb_component(ENABLE_WEBSOCKET_CLIENT
  PACKAGES libwebsockets
  HEADERS websocket_client.h qb_websocket_client.hpp)
