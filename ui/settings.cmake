# The stored settings: the profile layer and the window's loading and saving. Plain C++, no Qt.
add_library(tarvel_profile OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/Profile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProfileFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProfileText.cpp
)
# Names are compared with the server's ASCII case folding.
target_include_directories(tarvel_profile PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tarvel_profile PRIVATE tarvel_base)

add_library(tarvel_settings STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Settings.cpp
  $<TARGET_OBJECTS:tarvel_profile>
)
target_include_directories(tarvel_settings PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tarvel_settings PUBLIC tarvel_server)
