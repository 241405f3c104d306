# The Linux peripheral layer serves the Onboard channel and goes with it.
qb_component(ENABLE_CHANNEL_ONBOARD
  HEADERS serial.h i2c.h spi.h mmio.h version.h)
