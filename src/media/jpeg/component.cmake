qb_component(ENABLE_MEDIA_JPEG
  PACKAGES libturbojpeg libjpeg
  HEADERS jpeg_encode.h)
