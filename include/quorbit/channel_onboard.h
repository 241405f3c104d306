/** @file
 * The "Onboard" sensor channel module: the board's own UART and I2C bus
 * through the peripheral layer (serial.h, i2c.h). PWM and servo calls only
 * check their values; GPIO, analog and SPI are not offered, and a UART
 * callback is accepted but never called.
 *
 * Device paths: "/dev/ttyUSB0" and "/dev/i2c-0", unless the config_file
 * given to sca_open is a JSON object naming others in "uart_device" and
 * "i2c_device". I2C register addresses are 16 bits, sent high byte first.
 */
#ifndef QB_CHANNEL_ONBOARD_H
#define QB_CHANNEL_ONBOARD_H

#include "qb_export.h"

QB_BEGIN_DECLS

/** Registers the module under "Onboard" (after Sensor_Channel_module_Init). */
QB_API void Sensor_Channel_module_register_onboard(void);

QB_END_DECLS

#endif /* QB_CHANNEL_ONBOARD_H */
