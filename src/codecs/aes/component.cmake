qb_component(ENABLE_AES
  HEADERS aes.h)
