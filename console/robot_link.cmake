# The console's link to robots and devices: sockets, command sender, status poll, joystick, Wii Remote, GPS and
# map feed. A static library so that the console program, the tests, benchmarks and fuzz targets share it.
kavro_library(kavro_console_link STATIC
  ${CMAKE_CURRENT_LIST_DIR}/udp_endpoint.cpp
  ${CMAKE_CURRENT_LIST_DIR}/robot_link.cpp
  ${CMAKE_CURRENT_LIST_DIR}/status_poll.cpp
  ${CMAKE_CURRENT_LIST_DIR}/joystick.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wiimote.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gps.cpp
  ${CMAKE_CURRENT_LIST_DIR}/map_feed.cpp)
target_link_libraries(kavro_console_link PUBLIC kavro_outside kavro_devices kavro_util Threads::Threads)

# The link plugged into the console's seams.
kavro_library(kavro_console_link_seams STATIC ${CMAKE_CURRENT_LIST_DIR}/robot_link_seams.cpp)
target_link_libraries(kavro_console_link_seams PUBLIC kavro_console_link kavro_console)
