# Test programs of the ServerRPC thread (rpc_server.cpp itself is part of
# veltris_agent). Include this file from agent/CMakeLists.txt. The tests build
# rpc_server.cpp on its own so that they need only the RPC runtime.
if(NOT TARGET rpc_server_test)
  set(RPC_SERVER_TEST_DIR ${CMAKE_CURRENT_LIST_DIR}/tests/rpc_server_test)

  add_library(veltris_rpc_server_under_test STATIC ${CMAKE_CURRENT_LIST_DIR}/rpc_server.cpp)
  target_include_directories(veltris_rpc_server_under_test PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(veltris_rpc_server_under_test PUBLIC veltris_rpc)

  # A small agent stand-in with a fake request handler, for the third-party client.
  add_executable(rpc_server_test_server ${RPC_SERVER_TEST_DIR}/test_server.cpp
                                        ${RPC_SERVER_TEST_DIR}/fake_agent.cpp)
  target_link_libraries(rpc_server_test_server PRIVATE veltris_rpc_server_under_test)

  veltris_test(rpc_server_test
    SOURCES ${RPC_SERVER_TEST_DIR}/rpc_server_test.cpp ${RPC_SERVER_TEST_DIR}/interop_test.cpp
            ${RPC_SERVER_TEST_DIR}/fake_agent.cpp
    LIBS veltris_rpc_server_under_test)
  add_dependencies(rpc_server_test rpc_server_test_server)
  target_compile_definitions(rpc_server_test PRIVATE
    RPC_TEST_SERVER="$<TARGET_FILE:rpc_server_test_server>"
    IMPACKET_CLIENT="${RPC_SERVER_TEST_DIR}/impacket_client.py")

  veltris_bench(rpc_server_bench
    SOURCES ${RPC_SERVER_TEST_DIR}/roundtrip_bench.cpp ${RPC_SERVER_TEST_DIR}/fake_agent.cpp
    LIBS veltris_rpc_server_under_test)
endif()
