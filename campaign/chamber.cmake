# The thermal chamber (libCalora.so bound at run time) and the soak at each
# temperature. Qt-free; included by campaign/CMakeLists.txt.
add_library(zelbo_chamber STATIC
  ${CMAKE_CURRENT_LIST_DIR}/chamber_calora.cpp
  ${CMAKE_CURRENT_LIST_DIR}/soak.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sim_chamber.cpp)
target_include_directories(zelbo_chamber PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(zelbo_chamber PUBLIC zelbo_link ${CMAKE_DL_LIBS} Threads::Threads)
zelbo_target_warnings(zelbo_chamber)
set_target_properties(zelbo_chamber PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
