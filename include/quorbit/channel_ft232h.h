/** @file
 * The "FT232H" sensor channel module: GPIO (pins 0-15 as in mpsse2.h), SPI
 * and I2C of one FT232H USB bridge through the MPSSE engine. Open takes the
 * first FT232H; the module has no close, poll or UART, and the USB device
 * stays claimed until the process ends. Operations return 0 or the engine's
 * -1; a short SPI read or full-duplex transfer is -1 too.
 */
#ifndef QB_CHANNEL_FT232H_H
#define QB_CHANNEL_FT232H_H

#include "qb_export.h"

QB_BEGIN_DECLS

/** Registers the module under "FT232H" (after Sensor_Channel_module_Init). */
QB_API void Sensor_Channel_module_register_FT232H(void);

QB_END_DECLS

#endif /* QB_CHANNEL_FT232H_H */
