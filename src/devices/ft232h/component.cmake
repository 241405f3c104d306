qb_component(ENABLE_CHANNEL_FT232H
  PACKAGES libftdi1
  HEADERS mpsse2.h channel_ft232h.h)
