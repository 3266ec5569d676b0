logdesk_test(net_tests net/url_parts_test.cpp net/http_fetch_test.cpp
             net/http_fetch_hostile_test.cpp net/page_text_test.cpp net/ip_location_test.cpp)
target_link_libraries(net_tests PRIVATE logdesk_net)
