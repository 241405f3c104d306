qb_component(ENABLE_HTTP_CLIENT
  PACKAGES libcurl
  HEADERS http_client.h)
