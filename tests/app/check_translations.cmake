# Every catalogue covers every text of the windows: lupdate runs over the
# window code into a copy of each .ts, and an entry left unfinished fails.
#   cmake -DLUPDATE=... -DSOURCE_DIR=... -DWORK_DIR=... -P check_translations.cmake
file(GLOB catalogues "${SOURCE_DIR}/resources/translations/zelbo_*.ts")
if(NOT catalogues)
  message(FATAL_ERROR "no catalogue under ${SOURCE_DIR}/resources/translations")
endif()
file(MAKE_DIRECTORY "${WORK_DIR}")
set(failed 0)
foreach(ts IN LISTS catalogues)
  get_filename_component(name "${ts}" NAME)
  set(copy "${WORK_DIR}/${name}")
  file(COPY_FILE "${ts}" "${copy}")
  execute_process(
    COMMAND "${LUPDATE}" -silent -locations none -I . app scope drive thermal widgets -ts "${copy}"
    WORKING_DIRECTORY "${SOURCE_DIR}"
    RESULT_VARIABLE rc
    OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lupdate failed on ${name}: ${out}")
  endif()
  file(READ "${copy}" text)
  # The source of every unfinished message, for the failure report.
  string(REGEX MATCHALL "<source>[^<]*</source>[ \t\r\n]*(<comment>[^<]*</comment>[ \t\r\n]*)?<translation type=\"unfinished\"" hits "${text}")
  list(LENGTH hits count)
  if(count GREATER 0)
    set(failed 1)
    message("${name}: ${count} unfinished:")
    foreach(h IN LISTS hits)
      string(REGEX REPLACE "^<source>([^<]*)</source>.*" "\\1" src "${h}")
      message("  ${src}")
    endforeach()
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "a catalogue has unfinished entries; translate them in resources/translations/")
endif()
