qb_component(ENABLE_HTTP_SERVER
  PACKAGES libmicrohttpd
  HEADERS http_server.h qb_http_server.hpp)
