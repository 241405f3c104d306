qb_component(ENABLE_NANOMSG
  PACKAGES nanomsg
  HEADERS nanomsg_client.h nanomsg_server.h)
