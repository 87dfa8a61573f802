# ipt_layer(NAME [DEPS...]): one static library per folder lib/NAME, built
# from every .cc file in it.  Headers are named by layer ("util/tstring.h").
# DEPS are the layers below NAME that it may use, all of them (the list is
# not followed transitively).
#
# The include path enforces the layering: instead of lib/ itself, each layer
# gets a directory in the build tree holding a link lib/<layer> for itself
# and for each of DEPS only, so including a header of any other layer fails
# to compile.  The directory is PUBLIC; a program linking a layer sees that
# layer and everything below it.
function(ipt_layer name)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/lib/${name}/*.cc)
  set(inc ${CMAKE_BINARY_DIR}/layer_include/${name})
  file(REMOVE_RECURSE ${inc})
  file(MAKE_DIRECTORY ${inc})
  set(deps)
  foreach(d ${name} ${ARGN})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/lib/${d} ${inc}/${d} SYMBOLIC)
    if(NOT d STREQUAL name)
      list(APPEND deps ipt_${d})
    endif()
  endforeach()
  if(srcs)
    add_library(ipt_${name} STATIC ${srcs})
    target_include_directories(ipt_${name} PUBLIC ${inc})
    target_link_libraries(ipt_${name} PUBLIC ${deps} Threads::Threads)
  else()
    add_library(ipt_${name} INTERFACE)
    target_include_directories(ipt_${name} INTERFACE ${inc})
    target_link_libraries(ipt_${name} INTERFACE ${deps} Threads::Threads)
  endif()
endfunction()

# ipt_program(NAME DIR LIBS...): one executable from every .cc in DIR.
function(ipt_program name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cc)
  if(srcs)
    add_executable(${name} ${srcs})
    target_link_libraries(${name} PRIVATE ${ARGN})
  endif()
endfunction()
