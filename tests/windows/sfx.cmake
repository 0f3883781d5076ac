# sfx.exe, run the way the setup program runs it, against archives built by the tests.
# Included by tests/windows/CMakeLists.txt.
add_executable(sfx_tests ${CMAKE_CURRENT_LIST_DIR}/sfx/sfx_test.cpp)
target_link_libraries(sfx_tests PRIVATE torvane_zip torvane_image win32_owners gtest_main psapi)
# A build-tree path; under Wine the test reaches it through drive Z:.
target_compile_definitions(sfx_tests PRIVATE SFX_EXE_PATH="$<TARGET_FILE:sfx>")
add_dependencies(sfx_tests sfx)
add_test(NAME sfx_tests COMMAND sfx_tests)
set_tests_properties(sfx_tests PROPERTIES TIMEOUT 600)
