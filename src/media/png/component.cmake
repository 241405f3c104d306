qb_component(ENABLE_MEDIA_PNG
  PACKAGES libpng
  HEADERS png_encode.h)
