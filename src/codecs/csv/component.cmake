qb_component(ENABLE_CSV
  HEADERS sdk_csv.h qb_csv.hpp)
