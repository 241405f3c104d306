# The stand-alone queue serves its requests over the WebSocket server.
if(ENABLE_QB_MQ_FAKE AND NOT ENABLE_WEBSOCKET_SERVER)
  message(FATAL_ERROR "ENABLE_QB_MQ_FAKE needs ENABLE_WEBSOCKET_SERVER (turn both off, or the server on)")
endif()
qb_component(ENABLE_QB_MQ_FAKE
  HEADERS qb_mq_fake.h)
