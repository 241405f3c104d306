// What a board carries behind its published record: the locks that keep
// messages whole and the receive step single, and the lost-device flag.
#pragma once

#include <atomic>
#include <mutex>
#include <type_traits>

#include "firmata.h"

namespace qb::firmata {

struct board {
    t_firmata pub;  // first: t_firmata* and board* convert into each other
    std::mutex write_lock;  // one message at a time on the wire
    std::mutex i2c_lock;    // one pending register read at a time
    std::mutex slot_lock;   // the reply slot between receiver and reader
    std::mutex pull_lock;   // one receive step at a time
    std::atomic<bool> lost{false};
};
static_assert(std::is_standard_layout_v<board>);

inline board* of(t_firmata* f) { return reinterpret_cast<board*>(f); }

// A board over a serial record that is already open, or not open at all (its
// sends then fail), without the reset and firmware handshake of firmata_new.
t_firmata* board_new(t_serial* serial);

// Sends one message whole; the serial layer's result.
int send(t_firmata* f, const void* bytes, int len);

// The report switches of all 16 ports / channels, with the send result.
int enable_digital_report(t_firmata* f, int enable);
int enable_analog_report(t_firmata* f, int enable);

// Relaxed atomic access to mirror fields that the receiver writes while
// application threads read them.
template <typename T>
T load(T& field) {
    return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}
template <typename T, typename V>
void store(T& field, V value) {
    std::atomic_ref<T>(field).store(static_cast<T>(value), std::memory_order_relaxed);
}

inline bool valid_pin(int pin) { return pin >= 0 && pin < 128; }

}  // namespace qb::firmata
