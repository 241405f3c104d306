qb_component(ENABLE_CHANNEL_ONBOARD
  HEADERS channel_onboard.h)
