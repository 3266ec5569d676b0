add_executable(stats_gui_tests app/gui_test_main.cpp stats_gui/stats_window_test.cpp
                               stats_gui/ip_lookup_test.cpp)
target_link_libraries(stats_gui_tests PRIVATE logdesk_stats_gui Qt6::Test GTest::gtest
                      logdesk_warnings)
set_target_properties(stats_gui_tests PROPERTIES AUTOMOC ON)
gtest_discover_tests(stats_gui_tests DISCOVERY_TIMEOUT 60
                     PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
