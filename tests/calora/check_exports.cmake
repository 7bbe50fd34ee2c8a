# Checks that the library's dynamic symbol table defines exactly its fourteen
# exports. Run as: cmake -DNM=<nm> -DLIB=<libCalora.so> -P check_exports.cmake
set(expected
  GetBarGraphDisplaySel GetSetPoint1 GetSetPoint2 ReadTemp ReadTemp2 RunTemp
  SetBarGraphDisplaySel SetCalibrationData SetInput2UseSel SetInputAutoTransfer
  SetPoint1 SetPoint2 SetTransmissionOutputType StopTemp)
execute_process(COMMAND ${NM} -D --defined-only ${LIB}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found)
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] ([^ ]+)$")
    list(APPEND found ${CMAKE_MATCH_1})
  endif()
endforeach()
list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n expected: ${expected}\n found:    ${found}")
endif()
message(STATUS "exactly the fourteen exports: ${found}")
