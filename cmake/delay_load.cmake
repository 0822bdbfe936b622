# Delay-loaded DLLs: the program maps such a DLL on its first call into it, not at start-up.
# The exports of the toolchain's import library become a .def file, dlltool makes a
# delay-import library of it, and linked ahead of the ordinary import library it takes over
# the program's imports from that DLL.
set(STARTER_DELAY_DEF_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/delay_def.cmake)

function(starter_delay_load target)
  foreach(dll IN LISTS ARGN)
    find_library(STARTER_IMPORT_LIB_${dll} NAMES lib${dll}.a REQUIRED)
    set(def ${CMAKE_CURRENT_BINARY_DIR}/delay/${dll}.def)
    set(lib ${CMAKE_CURRENT_BINARY_DIR}/delay/lib${dll}_delay.a)
    add_custom_command(OUTPUT ${lib}
      COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DIMPORT_LIB=${STARTER_IMPORT_LIB_${dll}} -DDLL=${dll} -DDEF=${def}
              -DPOINTER_SIZE=${CMAKE_SIZEOF_VOID_P} -P ${STARTER_DELAY_DEF_SCRIPT}
      COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${def} --output-delaylib ${lib} --dllname ${dll}.dll
      DEPENDS ${STARTER_IMPORT_LIB_${dll}} ${STARTER_DELAY_DEF_SCRIPT}
      VERBATIM)
    add_custom_target(${target}_delay_${dll} DEPENDS ${lib})
    add_dependencies(${target} ${target}_delay_${dll})
    target_link_libraries(${target} PRIVATE ${lib})
  endforeach()
endfunction()
