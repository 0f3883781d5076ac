# What keeps the shipped Windows programs (setup.exe, sfx.exe) small.

# The code they are built from throws and catches nothing and asks no object for its type: no
# exception tables, no unwinder, no type information. The test programs that link the same
# libraries keep exceptions in their own code (GoogleTest needs them).
set(TORVANE_SHIPPED_CODE_OPTIONS -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)
function(torvane_shipped_code)
  foreach(target IN LISTS ARGN)
    target_compile_options(${target} PRIVATE ${TORVANE_SHIPPED_CODE_OPTIONS})
  endforeach()
endfunction()

# A shipped program: its own code as above, the allocation and failure functions of
# base/ShippedRuntime.cpp in place of the standard library's, every section that nothing calls
# dropped, and the result stripped.
function(torvane_shipped_program target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/base/ShippedRuntime.cpp)
  torvane_shipped_code(${target})
  target_link_options(${target} PRIVATE -s -Wl,--gc-sections)
endfunction()
