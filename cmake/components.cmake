# Build switches of sdk_config.h. Each component that can be left out of a
# build has one ENABLE_* option; all are on by default. The folder of each
# such family names its switch in a component.cmake (src/CMakeLists.txt).
#
# ENABLE_SDK_LOGGER is core, with no folder: the logger has no dependency and
# every family reports its failures through it, including a call to a family
# the build leaves out. Off, the LOGx macros compile to nothing (callers of
# the installed headers too), but the logger functions stay in the library.
set(QB_COMPONENT_SWITCHES
  ENABLE_SDK_LOGGER
  ENABLE_SDK_TIMER
  ENABLE_QB_MQ_REDIS
  ENABLE_QB_MQ_FAKE
  ENABLE_QB_STORAGE_LOCAL
  ENABLE_QB_STORAGE_MINIO
  ENABLE_QB_STORAGE_OSS
  ENABLE_QB_RPC
  ENABLE_WEBSOCKET_SERVER
  ENABLE_WEBSOCKET_CLIENT
  ENABLE_SOCKETIO_CLIENT
  ENABLE_MQTT_CLIENT
  ENABLE_HTTP_SERVER
  ENABLE_HTTP_CLIENT
  ENABLE_ZMQ
  ENABLE_NANOMSG
  ENABLE_SOCKET
  ENABLE_CHANNEL_FIRMATA
  ENABLE_CHANNEL_FT232H
  ENABLE_CHANNEL_ONBOARD
  ENABLE_NPY
  ENABLE_CSV
  ENABLE_AES
  ENABLE_MEDIA_BMP
  ENABLE_MEDIA_JPEG
  ENABLE_MEDIA_PNG
  ENABLE_ALSA_AUDIO
)
set(QB_CONFIG_DEFINES "")
foreach(sw IN LISTS QB_COMPONENT_SWITCHES)
  option(${sw} "Build component ${sw}" ON)
  if(${sw})
    string(APPEND QB_CONFIG_DEFINES "#define ${sw} 1\n")
  else()
    string(APPEND QB_CONFIG_DEFINES "/* #undef ${sw} */\n")
  endif()
endforeach()

# qb_drop_disabled(<list var> <file suffix> name:ENABLE_X ...): removes from the
# list the sources "<name><suffix>" whose family's switch is off.
function(qb_drop_disabled listvar suffix)
  set(files ${${listvar}})
  foreach(need IN LISTS ARGN)
    string(REPLACE ":" ";" need ${need})
    list(GET need 0 name)
    list(GET need 1 switch)
    if(NOT ${switch})
      list(FILTER files EXCLUDE REGEX "/${name}${suffix}$")
    endif()
  endforeach()
  set(${listvar} ${files} PARENT_SCOPE)
endfunction()
