# The project's own scripts turn warnings into errors; a plain build or a
# distribution's build, with another compiler or other flags, must not fail on a
# warning nobody here has seen. Third-party headers come in as system includes.
option(CFW_WARNINGS_AS_ERRORS "Treat warnings in project code as errors (the project's scripts turn it on)" OFF)

function(cfw_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
  if(CFW_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
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
