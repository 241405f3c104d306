qb_component(ENABLE_QB_STORAGE_LOCAL
  HEADERS local_storage.h)
