# The analysis engine is standard C++ only: refuse to configure when any of
# its sources includes a header of the window toolkit.
file(GLOB_RECURSE _engine_sources
     "${CMAKE_SOURCE_DIR}/engine/*.h" "${CMAKE_SOURCE_DIR}/engine/*.cpp")
foreach(_source IN LISTS _engine_sources)
  file(STRINGS "${_source}" _toolkit_includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]Q")
  if(_toolkit_includes)
    message(FATAL_ERROR "${_source} includes a Qt header; the engine must stay toolkit-free")
  endif()
endforeach()
