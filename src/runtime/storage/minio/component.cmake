qb_component(ENABLE_QB_STORAGE_MINIO
  HEADERS minio_storage.h)
