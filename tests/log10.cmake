# cr_log10 proven bit for bit against GNU MPFR, a test dependency only.
# PATHLOSS_LOG10_SAMPLES sets the number of random inputs (CI: 10,000,000).
find_path(MPFR_INCLUDE_DIR mpfr.h)
find_library(MPFR_LIBRARY mpfr)
find_library(GMP_LIBRARY gmp)
if(MPFR_INCLUDE_DIR AND MPFR_LIBRARY AND GMP_LIBRARY)
  add_executable(log10_test log10_test.cpp)
  target_include_directories(log10_test PRIVATE ${MPFR_INCLUDE_DIR})
  target_link_libraries(log10_test PRIVATE pathloss_model ${MPFR_LIBRARY} ${GMP_LIBRARY})
  add_test(NAME log10.mpfr COMMAND log10_test)
else()
  add_skipped_test(log10.mpfr)
endif()
