qb_component(ENABLE_CHANNEL_FIRMATA
  HEADERS firmata.h fserial.h channel_firmata.h)
