logdesk_test(sort_tests sort/list_sort_test.cpp)
target_link_libraries(sort_tests PRIVATE logdesk_stats)
