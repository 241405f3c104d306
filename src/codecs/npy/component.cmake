# NPY arrays and their NPZ archives (uncompressed ZIP).
qb_component(ENABLE_NPY
  HEADERS npy_array.h zipcontainer.h qb_npy.hpp)
