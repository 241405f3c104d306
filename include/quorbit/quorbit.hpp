/*
 * The C++ API: every family this build carries (see sdk_config.h).
 * Conventions (ownership, callbacks, results) in qb_result.hpp.
 */
#ifndef QUORBIT_HPP
#define QUORBIT_HPP

#include "sdk_config.h"

#include "qb_config.hpp"
#include "qb_data_channel.hpp"
#include "qb_env.hpp"
#include "qb_mq.hpp"
#include "qb_result.hpp"
#include "qb_sensor_channel.hpp"
#include "qb_storage.hpp"
#ifdef ENABLE_WEBSOCKET_SERVER
#include "qb_websocket_server.hpp"
#endif
#ifdef ENABLE_WEBSOCKET_CLIENT
#include "qb_websocket_client.hpp"
#endif
#ifdef ENABLE_SOCKETIO_CLIENT
#include "qb_socketio.hpp"
#endif
#ifdef ENABLE_MQTT_CLIENT
#include "qb_mqtt.hpp"
#endif
#ifdef ENABLE_HTTP_SERVER
#include "qb_http_server.hpp"
#endif
#ifdef ENABLE_NPY
#include "qb_npy.hpp"
#endif
#ifdef ENABLE_CSV
#include "qb_csv.hpp"
#endif

#endif /* QUORBIT_HPP */
