/** @file
 * The "Firmata" sensor channel: a board running standard Firmata firmware on
 * a serial line. sca_open's configuration file may name the device as a JSON
 * string member "device" (or "port"); without a file it is "/dev/ttyUSB0".
 *
 * - Opening waits for the firmware report (about 10 s at most), then about
 *   2 s for the pin capabilities; a thread then receives for the channel.
 * - Pins are Firmata pin numbers; PWM duty cycles are 0-255, servo angles
 *   0-180. I2C register reads wait about one second for the reply.
 * - Once the device is gone, operations return -1; sca_close still works.
 */
#ifndef QB_CHANNEL_FIRMATA_H
#define QB_CHANNEL_FIRMATA_H

#include "qb_export.h"

QB_BEGIN_DECLS

/** Registers the module under "Firmata" (after Sensor_Channel_module_Init). */
QB_API void Sensor_Channel_module_register_firmata(void);

QB_END_DECLS

#endif /* QB_CHANNEL_FIRMATA_H */
