# ipt_layer(NAME [DEPS...]): one static library per folder lib/NAME, built
# from every .cc file in it, with lib/ on the include path so that headers
# are named by layer ("util/tstring.h").
function(ipt_layer name)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/lib/${name}/*.cc)
  set(deps)
  foreach(d ${ARGN})
    list(APPEND deps ipt_${d})
  endforeach()
  if(srcs)
    add_library(ipt_${name} STATIC ${srcs})
    target_include_directories(ipt_${name} PUBLIC ${CMAKE_SOURCE_DIR}/lib)
    target_link_libraries(ipt_${name} PUBLIC ${deps} Threads::Threads)
  else()
    add_library(ipt_${name} INTERFACE)
    target_include_directories(ipt_${name} INTERFACE ${CMAKE_SOURCE_DIR}/lib)
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
