qb_component(ENABLE_QB_STORAGE_OSS
  PACKAGES apr-1 libcurl libcrypto
  HEADERS oss_storage.h)
