qb_component(ENABLE_SDK_TIMER
  HEADERS sdk_timer.h sdk_timer2.h)
