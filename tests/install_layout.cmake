# Installs the build in BUILD into a fresh PREFIX and fails unless every file
# named in FILES (paths under PREFIX, separated by ";") is there.
#   cmake -D BUILD=... -D PREFIX=... -D "FILES=a;b" -P install_layout.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install ${BUILD} failed: ${status}")
endif()
foreach(path IN LISTS FILES)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
file(GLOB_RECURSE installed RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
list(SORT FILES)
if(NOT installed STREQUAL FILES)
  message(FATAL_ERROR "installed ${installed}, expected ${FILES}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
