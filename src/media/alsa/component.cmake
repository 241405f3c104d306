qb_component(ENABLE_ALSA_AUDIO
  PACKAGES alsa
  HEADERS alsa_input.h alsa_output.h alsa_io.h)
