# Run by CPack before it packs: the static libraries of the -dev package lose their debug
# information, as Debian's own -dev packages do (CPACK_STRIP_FILES strips programs only).
file(GLOB_RECURSE estaticas "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.a")
foreach(biblioteca IN LISTS estaticas)
  execute_process(COMMAND "${CPACK_CRIBANZAS_STRIP}" --strip-debug "${biblioteca}" RESULT_VARIABLE r)
  if(r)
    message(FATAL_ERROR "strip --strip-debug ${biblioteca}: ${r}")
  endif()
endforeach()
