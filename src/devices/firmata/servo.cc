// Hobby servos on a Firmata board: the angle travels as an analog value.
#include <cstdio>
#include <cstdlib>

#include "devices/firmata/firmata_board.h"
#include "firmata.h"

extern "C" {

QB_API t_servo* servo_attach(t_firmata* firmata, int pin) {
    if (!firmata || !qb::firmata::load(firmata->isReady)) {
        perror("servo_new::Firmata is not ready");
        return nullptr;
    }
    auto* servo = static_cast<t_servo*>(malloc(sizeof(t_servo)));
    if (!servo) {
        perror("servo_new::malloc failed");
        return nullptr;
    }
    servo->firmata = firmata;
    servo->pin = pin;
    firmata_pinMode(firmata, pin, MODE_SERVO);
    return servo;
}

QB_API int servo_write(t_servo* servo, int value) {
    if (!servo) return -1;
    return firmata_analogWrite(servo->firmata, servo->pin, value);
}

}  // extern "C"
