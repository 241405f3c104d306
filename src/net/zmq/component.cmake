qb_component(ENABLE_ZMQ
  PACKAGES libczmq
  HEADERS zmq_client.h zmq_server.h)
