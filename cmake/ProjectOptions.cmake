# Warnings are errors in project code; third-party headers come in as system includes.
function(cfw_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
    -Wno-missing-field-initializers)
  # GCC 12 at -O3 (Release) takes std::string copies inlined from the library
  # for overlapping copies: a known false positive. It stays a warning there.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
    target_compile_options(${target} PRIVATE -Wno-error=restrict)
  endif()
endfunction()

if(CFW_SANITIZE)
  add_compile_options(-fsanitize=${CFW_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${CFW_SANITIZE})
  if(CFW_SANITIZE MATCHES "undefined")
    # A UB report must fail the test that caused it.
    add_compile_options(-fno-sanitize-recover=all)
  endif()
endif()

# A static library of project code, with its include root and warnings set.
function(cfw_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  cfw_warnings(${name})
endfunction()
