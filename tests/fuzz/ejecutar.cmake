# One bounded fuzz run: a fresh copy of the seeds, then the target over it. A crash, leak,
# time-out or broken property makes the target exit non-zero, which fails the test.
file(REMOVE_RECURSE ${TRABAJO})
file(MAKE_DIRECTORY ${TRABAJO})
file(GLOB semillas ${SEMILLAS}/*)
if(semillas)
  file(COPY ${semillas} DESTINATION ${TRABAJO})
endif()
get_filename_component(carpeta ${TRABAJO} DIRECTORY)
execute_process(
  COMMAND ${PROGRAMA} -seed=${SEMILLA} -max_total_time=${SEGUNDOS} -rss_limit_mb=2048 -timeout=5 -print_final_stats=1
          -artifact_prefix=${carpeta}/ ${TRABAJO}
  RESULT_VARIABLE resultado)
if(NOT resultado EQUAL 0)
  message(FATAL_ERROR "${PROGRAMA} failed (${resultado}); the input is kept in ${carpeta}")
endif()
