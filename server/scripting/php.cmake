# The PHP runtime the server embeds.
#
#   ZORVANE_PHP=zts  (default) the thread-safe PHP 8.2 embed library that
#                    scripts/deps/php.sh builds from Debian's source into
#                    ZORVANE_PHP_PREFIX; scripts run on all workers at once.
#   ZORVANE_PHP=nts  Debian's non-thread-safe libphp8.2-embed (packages
#                    libphp8.2-embed and php8.2-dev); one script at a time.
#
# Both libraries have the soname libphp.so, so the programs carry a RUNPATH
# to the directory of the one they were built against.

set(ZORVANE_PHP "zts" CACHE STRING "PHP runtime: zts (thread-safe, built by scripts/deps/php.sh) or nts (Debian's libphp8.2-embed)")
set_property(CACHE ZORVANE_PHP PROPERTY STRINGS zts nts)

if(NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(_zv_cache_home "$ENV{XDG_CACHE_HOME}")
else()
  set(_zv_cache_home "$ENV{HOME}/.cache")
endif()
set(ZORVANE_PHP_PREFIX "${_zv_cache_home}/zorvane/php-8.2-zts" CACHE PATH
    "Install prefix of the thread-safe PHP runtime")

if(ZORVANE_PHP STREQUAL "zts")
  set(_zv_php_root "${ZORVANE_PHP_PREFIX}/include/php/20220829")
  set(_zv_php_lib "${ZORVANE_PHP_PREFIX}/lib/php/libphp.so")
  if(NOT EXISTS "${_zv_php_lib}" OR NOT EXISTS "${_zv_php_root}/main/php_config.h")
    message(FATAL_ERROR "The thread-safe PHP runtime is missing in ${ZORVANE_PHP_PREFIX}.\n"
      "Build it with scripts/deps/php.sh (make run and make test do), "
      "or configure with -DZORVANE_PHP=nts to use Debian's libphp8.2-embed.")
  endif()
  file(STRINGS "${_zv_php_root}/main/php_config.h" _zv_zts REGEX "^#define ZTS 1")
  if(NOT _zv_zts)
    message(FATAL_ERROR "${ZORVANE_PHP_PREFIX} holds a PHP runtime that is not thread-safe.")
  endif()
elseif(ZORVANE_PHP STREQUAL "nts")
  set(_zv_php_root "/usr/include/php/20220829")
  set(_zv_php_lib "/usr/lib/libphp8.2.so")
  if(NOT EXISTS "${_zv_php_lib}" OR NOT EXISTS "${_zv_php_root}/main/php_config.h")
    message(FATAL_ERROR "Debian's PHP embed library is missing: apt-get install libphp8.2-embed php8.2-dev")
  endif()
  message(STATUS "PHP: Debian's non-thread-safe runtime; PHP scripts run one at a time")
else()
  message(FATAL_ERROR "ZORVANE_PHP must be zts or nts, not '${ZORVANE_PHP}'")
endif()

set(ZV_PHP_INCLUDE_DIRS
  ${_zv_php_root} ${_zv_php_root}/main ${_zv_php_root}/TSRM ${_zv_php_root}/Zend
  ${_zv_php_root}/ext ${_zv_php_root}/ext/date/lib
  CACHE INTERNAL "")
set(ZV_PHP_LIBRARY "${_zv_php_lib}" CACHE INTERNAL "")
get_filename_component(_zv_php_libdir "${_zv_php_lib}" DIRECTORY)
set(ZV_PHP_LIBRARY_DIR "${_zv_php_libdir}" CACHE INTERNAL "")

# Adds the PHP runtime to one server library variant.
function(zv_server_php target)
  target_include_directories(${target} SYSTEM PRIVATE ${ZV_PHP_INCLUDE_DIRS})
  target_compile_definitions(${target} PRIVATE ZORVANE_PHP=1)
  target_link_libraries(${target} PUBLIC ${ZV_PHP_LIBRARY})
  target_link_options(${target} INTERFACE
    "LINKER:--enable-new-dtags" "LINKER:-rpath,${ZV_PHP_LIBRARY_DIR}")
endfunction()
