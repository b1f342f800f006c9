# Run by CPack before it packs: the static libraries of the -dev package lose their debug
# information, as Debian's own -dev packages do (CPACK_STRIP_FILES strips programs only), and
# every binary loses the compiler's .comment notes, as dh_strip does.
file(GLOB_RECURSE estaticas "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.a")
file(GLOB_RECURSE programas "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
list(FILTER programas INCLUDE REGEX "/bin/[^/]+$")
foreach(binario IN LISTS estaticas programas)
  set(opciones --remove-section=.comment --remove-section=.note)
  if(binario MATCHES "\\.a$")
    list(APPEND opciones --strip-debug --enable-deterministic-archives)
  endif()
  execute_process(COMMAND "${CPACK_CRIBANZAS_STRIP}" ${opciones} "${binario}" RESULT_VARIABLE r)
  if(r)
    message(FATAL_ERROR "strip ${opciones} ${binario}: ${r}")
  endif()
endforeach()
