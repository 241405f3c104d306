# The RPC call is an HTTP POST made by the HTTP client family.
if(ENABLE_QB_RPC AND NOT ENABLE_HTTP_CLIENT)
  message(FATAL_ERROR "ENABLE_QB_RPC needs ENABLE_HTTP_CLIENT (turn both off, or the client on)")
endif()
qb_component(ENABLE_QB_RPC
  HEADERS qb_rpc.h)
