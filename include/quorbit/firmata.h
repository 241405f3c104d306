/** @file
 * Host side of the Firmata protocol: a board on a serial line, its pin
 * mirror, the incoming message parser, pin/analog/report messages, I2C
 * requests, servos and the serial-port passthrough.
 *
 * - Boards come from firmata_new and go with firmata_close (which restores
 *   the line's settings and releases the record).
 * - Sends return the serial layer's result (bytes written, or a negative
 *   value); pins outside 0-127 are refused with -1 and send nothing, except
 *   firmata_digitalWrite which returns 0 for them.
 * - One thread receives (firmata_pull; a second caller waits its turn); any
 *   thread may send: each message goes out whole. Callbacks run on the
 *   receiving thread and are process-wide (one for all boards).
 */
#ifndef QB_FIRMATA_H
#define QB_FIRMATA_H

#include <stdint.h>

#include "qb_export.h"
#include "fserial.h"

QB_BEGIN_DECLS

#define MODE_INPUT 0x00
#define MODE_OUTPUT 0x01
#define MODE_ANALOG 0x02
#define MODE_PWM 0x03
#define MODE_SERVO 0x04
#define MODE_SHIFT 0x05
#define MODE_I2C 0x06

#define LOW 0
#define HIGH 1

#define FIRMATA_DIGITAL_MESSAGE 0x90
#define FIRMATA_ANALOG_MESSAGE 0xE0
#define FIRMATA_REPORT_ANALOG 0xC0
#define FIRMATA_REPORT_DIGITAL 0xD0
#define FIRMATA_SET_PIN_MODE 0xF4
#define FIRMATA_REPORT_VERSION 0xF9
#define FIRMATA_SYSTEM_RESET 0xFF
#define FIRMATA_START_SYSEX 0xF0
#define FIRMATA_END_SYSEX 0xF7
#define FIRMATA_REPORT_FIRMWARE 0x79
#define FIRMATA_SYSEX_NON_REALTIME 0x7E
#define FIRMATA_SYSEX_REALTIME 0x7F
#define FIRMATA_SERIAL_MESSAGE 0x60
#define FIRMATA_PIN_MODE_QUERY 0x72
#define FIRMATA_PIN_MODE_RESPONSE 0x73
#define FIRMATA_PIN_STATE_QUERY 0x6D
#define FIRMATA_PIN_STATE_RESPONSE 0x6E
#define FIRMATA_CAPABILITY_QUERY 0x6B
#define FIRMATA_CAPABILITY_RESPONSE 0x6C
#define FIRMATA_ANALOG_MAPPING_QUERY 0x69
#define FIRMATA_ANALOG_MAPPING_RESPONSE 0x6A
#define FIRMATA_EXTENDED_ANALOG 0x6F
#define FIRMATA_SERVO_CONFIG 0x70
#define FIRMATA_STRING_DATA 0x71
#define FIRMATA_I2C_REQUEST 0x76
#define FIRMATA_I2C_REPLY 0x77
#define FIRMATA_I2C_CONFIG 0x78
#define FIRMATA_I2C_READ_MASK 0x18
#define FIRMATA_MSG_LEN 1024

/* Serial passthrough sub-commands (the low nibble is the board's port). */
#define FIRMATA_SERIAL_CONFIG 0x10
#define FIRMATA_SERIAL_WRITE 0x20
#define FIRMATA_SERIAL_READ 0x30
#define FIRMATA_SERIAL_REPLY 0x40
#define FIRMATA_SERIAL_CLOSE 0x50
#define FIRMATA_SERIAL_FLUSH 0x60
#define FIRMATA_SERIAL_LISTEN 0x70
#define FIRMATA_HW_SERIAL0 0x00
#define FIRMATA_HW_SERIAL1 0x01
#define FIRMATA_HW_SERIAL2 0x02
#define FIRMATA_HW_SERIAL3 0x03
#define SERIAL_MODE_CONTINUOUS_READ 0x00
#define SERIAL_MODE_STOP_READING 0x01

enum I2C_MODES {
    I2C_MODES_WRITE = 0,
    I2C_MODES_READ = 1,
    I2C_MODES_CONTINUOUS_READ = 2,
    I2C_MODES_STOP_READING = 3
};

typedef struct s_pin {
    uint8_t mode;             /**< MODE_*; 0xFF until known */
    uint8_t analog_channel;   /**< 127: none */
    uint64_t supported_modes; /**< bit m: the board offers mode m */
    uint32_t value;           /**< last value written or reported */
} t_pin;

struct i2c_register {
    uint8_t address; /**< register whose reply is awaited */
    uint8_t value[255];
    uint8_t number_bytes;
    uint8_t ok; /**< 1 once the reply is in */
};

typedef struct s_firmata {
    t_serial* serial;
    t_pin pins[128];
    int parse_command_len;
    int parse_count;
    uint8_t parse_buff[FIRMATA_MSG_LEN];
    int isReady;       /**< 1 once the firmware has reported */
    char firmware[140]; /**< `"<name>-<major>.<minor>"` */
    struct i2c_register i2c;
} t_firmata;

typedef struct s_servo {
    t_firmata* firmata;
    int pin;
} t_servo;

typedef void (*firmata_gpio_callback_func)(int pin, int value);
typedef int (*firmata_serial_callback_func)(char* data, int length);

/** Opens the line at 57600 baud, resets the board and asks for its firmware;
 * the board is ready once firmata_pull has received the answer. NULL when the
 * line cannot be opened. */
QB_API t_firmata* firmata_new(char* name);
/** Restores and closes the line and frees the board. */
QB_API void firmata_close(t_firmata* firmata);
/** Waits up to 10 ms for input and parses it: bytes read, 0 for none, negative when the line failed. */
QB_API int firmata_pull(t_firmata* firmata);
/** Feeds received bytes to the parser; each complete message is handled at once. */
QB_API void firmata_parse(t_firmata* firmata, const uint8_t* buf, int len);
/** Handles the complete message in parse_buff (reports, replies, passthrough data). */
QB_API void firmata_endParse(t_firmata* firmata);
/** Forgets every pin's mode, capabilities and value and marks the board not ready. */
QB_API void firmata_initPins(t_firmata* firmata);
/** Sends a system reset, then discards input until the board is quiet (at most about 2 s). */
QB_API void firmata_resetDeviceConfig(t_firmata* firmata);
/** Asks the board to report its firmware name and version. */
QB_API int firmata_askFirmware(t_firmata* firmata);
/** Sets pin to a MODE_* value (0-127). */
QB_API int firmata_pinMode(t_firmata* firmata, int pin, int mode);
/** Sets the pin's mirrored value and sends its whole port's output byte. */
QB_API int firmata_digitalWrite(t_firmata* firmata, int pin, int value);
/** The mirrored value, or -1 for a pin outside 0-127. */
QB_API int firmata_digitalRead(t_firmata* firmata, int pin);
/** Sends a PWM or servo value; pins above 15 use the extended analog message. */
QB_API int firmata_analogWrite(t_firmata* firmata, int pin, int value);
/** The pin's last reported value into *value (no traffic); 0 or -1. */
QB_API int firmata_analogRead(t_firmata* firmata, int pin, int* value);
/** Switches digital reporting on or off for ports 0-15. */
QB_API void firmata_EnableDigitalReport(t_firmata* firmata, int enable);
/** Switches analog reporting on or off for channels 0-15. */
QB_API void firmata_EnableAnalogReport(t_firmata* firmata, int enable);
/** Sets the process-wide callback for digital and analog value reports (NULL: none). */
QB_API void firmata_RegisterGpioCallback(t_firmata* firmata, firmata_gpio_callback_func func);

/* I2C: 7-bit slave addresses. */

/** Sends a prepared I2C request SysEx of len bytes (at least 4); read requests are
 * flagged to restart rather than stop. */
QB_API int firmata_I2CRequest(t_firmata* firmata, char* bytes, int len);
/** Writes len bytes to the device. */
QB_API int firmata_I2CWriteBytes(t_firmata* firmata, uint8_t slaveAddress, char* bytes, int len);
/** Asks the device for num_bytes; the reply arrives through firmata_pull. */
QB_API int firmata_I2CReadBytes(t_firmata* firmata, uint8_t slaveAddress, int num_bytes);
/** Writes one byte to register register_addr of the device. */
QB_API int firmata_I2CWriteRegisterBytes(t_firmata* firmata, uint8_t address, uint8_t register_addr, uint8_t byte);
/** Reads bytesToRead bytes of a register, waiting about one second for the reply (which
 * another thread's firmata_pull must receive); 0, or -1 on time-out or a short reply. */
QB_API int firmata_I2CReadRegisterBytes(t_firmata* firmata, uint8_t slaveAddress, uint8_t register_address,
                                        int bytesToRead, uint8_t* out_buffer);
/** Stops continuous reading from the device. */
QB_API int firmata_I2CStopReading(t_firmata* firmata, uint8_t slaveAddress);
/** Sets the board's delay between an I2C write and read, in microseconds (0-16383). */
QB_API int firmata_I2Config(t_firmata* firmata, int delay);

/** Sets the pin to MODE_SERVO; NULL unless the board is ready. Release with free(). */
QB_API t_servo* servo_attach(t_firmata* firmata, int pin);
/** Sends value (an angle 0-180 for standard servos) to the servo's pin. */
QB_API int servo_write(t_servo* servo, int value);

/* Serial passthrough to the board's UARTs: ports 0-7 are hardware ports. */

/** Configures port portId at baudrate; 8 and up are refused. */
QB_API int firmata_SerialPortOpen(t_firmata* firmata, int portId, int baudrate);
/** Sends length bytes to be written on the board's port. */
QB_API int firmata_SerialPortWrite(t_firmata* firmata, int portId, char* buffer_in, int length);
/** Asks the board to forward what the port receives; maxBytesToRead 0: all that is available. */
QB_API int firmata_SerialPortStartRead(t_firmata* firmata, int portId, int maxBytesToRead);
/** Stops forwarding the port's input. */
QB_API int firmata_SerialPortStopRead(t_firmata* firmata, int portId);
/** Closes the board's port. */
QB_API int firmata_SerialPortClose(t_firmata* firmata, int portId);
/** Asks the board to flush the port; maxBytesToRead is not used. */
QB_API int firmata_SerialPortFlush(t_firmata* firmata, int portId, int maxBytesToRead);
/** Decodes the serial reply in parse_buff and passes it to the registered callback; 0 or -1. */
QB_API int firmata_SerialCallback(t_firmata* firmata);
/** Sets the process-wide callback for forwarded serial data (all ports); returns 0. */
QB_API int firmata_SerialRegisterCallback(t_firmata* firmata, int portId, firmata_serial_callback_func callback);

QB_END_DECLS

#endif /* QB_FIRMATA_H */
