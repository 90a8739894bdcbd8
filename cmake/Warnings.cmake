# Our own code builds warning-free; format checking catches printf mistakes.
# Sanitizer builds turn off -Werror: gcc's flow warnings see the inserted
# checks and report overflows that cannot happen.
option(ZV_WARNINGS_AS_ERRORS "Fail the build on warnings" ON)
function(zv_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wformat=2 -Werror=format -Wshadow -Wnon-virtual-dtor)
  if(ZV_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# A separately linked library of ours. Every symbol it uses must come from a
# library it names, so a dependency that runs the wrong way (a cycle) fails
# the link instead of resolving silently inside one big library.
function(zv_library name)
  cmake_parse_arguments(L "" "" "SOURCES" ${ARGN})
  add_library(${name} SHARED ${L_SOURCES})
  zv_warnings(${name})
  target_link_options(${name} PRIVATE "LINKER:--no-undefined")
  # Calls inside a library stay direct; nobody interposes our symbols.
  target_compile_options(${name} PRIVATE -fno-semantic-interposition)
endfunction()

# Adds a GoogleTest executable for one module's tests and registers its cases with CTest.
function(zv_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  zv_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  # The module (the name up to the first "_") labels the cases: ctest -L core.
  string(REGEX REPLACE "_.*" "" module "${name}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "ZV_SOURCE_DIR=${PROJECT_SOURCE_DIR}" LABELS "${module}")
endfunction()
