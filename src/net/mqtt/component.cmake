# Debian's Paho ships no pkg-config file: the synchronous client with TLS by name.
qb_component(ENABLE_MQTT_CLIENT
  LIBS paho-mqtt3cs
  HEADERS mqtt_client.h qb_mqtt.hpp)
