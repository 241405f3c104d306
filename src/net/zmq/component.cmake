qb_component(ENABLE_ZMQ
  PACKAGES libczmq libzmq
  HEADERS zmq_client.h zmq_server.h)
