logdesk_test(stats_tests stats/page_builds_test.cpp stats/status_tables_test.cpp
             stats/stats_sort_test.cpp)
target_link_libraries(stats_tests PRIVATE logdesk_stats)
