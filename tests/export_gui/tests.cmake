add_executable(export_gui_tests app/gui_test_main.cpp export_gui/csv_export_window_test.cpp
                                export_gui/main_window_sort_test.cpp)
target_link_libraries(export_gui_tests PRIVATE logdesk_ui Qt6::Test GTest::gtest logdesk_warnings)
set_target_properties(export_gui_tests PROPERTIES AUTOMOC ON)
gtest_discover_tests(export_gui_tests DISCOVERY_TIMEOUT 60
                     PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
