# sfx.exe, run the way the setup program runs it, against archives built by the tests.
# Included by tests/windows/CMakeLists.txt.
add_executable(sfx_tests ${CMAKE_CURRENT_LIST_DIR}/sfx/sfx_test.cpp)
target_link_libraries(sfx_tests PRIVATE install_journal torvane_zip torvane_image win32
  gtest_main psapi ntdll advapi32)
# A build-tree path; under Wine the test reaches it through drive Z:.
target_compile_definitions(sfx_tests PRIVATE SFX_EXE_PATH="$<TARGET_FILE:sfx>")
add_dependencies(sfx_tests sfx)
# A program of the suite that runs from the install folder while an upgrade replaces it.
add_executable(sfx_suite_program WIN32 ${CMAKE_CURRENT_LIST_DIR}/sfx/suite_program.cpp)
target_compile_definitions(sfx_tests PRIVATE
  SUITE_PROGRAM_PATH="$<TARGET_FILE:sfx_suite_program>")
add_dependencies(sfx_tests sfx_suite_program)

# Payloads holding names beyond ASCII as pack, 7-Zip and Info-ZIP's zip store them, and LZMA
# entries as pack and 7-Zip write them.
set(named_archives ${CMAKE_CURRENT_BINARY_DIR}/named-archives)
add_custom_command(OUTPUT ${named_archives}/pack.exe ${named_archives}/7zip.exe
                          ${named_archives}/infozip.exe ${named_archives}/pack-lzma.exe
                          ${named_archives}/7zip-lzma.exe
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/sfx/make-named-archives.sh "${PACK_EXE}"
          $<TARGET_FILE:sfx> ${named_archives}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/sfx/make-named-archives.sh sfx "${PACK_EXE}"
  VERBATIM)
add_custom_target(sfx_named_archives DEPENDS ${named_archives}/pack.exe)
add_dependencies(sfx_tests sfx_named_archives)
target_compile_definitions(sfx_tests PRIVATE NAMED_ARCHIVES_DIR="${named_archives}")
add_test(NAME sfx_tests COMMAND sfx_tests)
set_tests_properties(sfx_tests PROPERTIES TIMEOUT 600)
