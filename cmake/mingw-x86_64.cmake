# 64-bit Windows programs: the same code, for running the tests under Wine on machines whose
# kernel runs no 32-bit code.
set(MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
