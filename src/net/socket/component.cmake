qb_component(ENABLE_SOCKET
  HEADERS sdk_socket.h)
