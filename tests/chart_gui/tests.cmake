add_executable(chart_gui_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/app/gui_test_main.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/chart_gui/chart_window_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/chart_gui/chart_picture_test.cpp)
target_link_libraries(chart_gui_tests PRIVATE logdesk_stats_gui logdesk_export_gui Qt6::Test
                      GTest::gtest GIF::GIF logdesk_warnings)
target_compile_definitions(chart_gui_tests PRIVATE
  LOGDESK_SAMPLES_DIR="${PROJECT_SOURCE_DIR}/samples")
set_target_properties(chart_gui_tests PROPERTIES AUTOMOC ON)
gtest_discover_tests(chart_gui_tests DISCOVERY_TIMEOUT 60
                     PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
