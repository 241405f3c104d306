qb_component(ENABLE_SOCKETIO_CLIENT
  HEADERS socketio_client.h socketio_def.h qb_socketio.hpp)
