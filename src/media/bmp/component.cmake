# BMP images, the YUV conversions and the resizers (one of them through gd).
qb_component(ENABLE_MEDIA_BMP
  PACKAGES gdlib
  HEADERS bmp_encode.h)
