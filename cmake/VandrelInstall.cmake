# Installation: the programs, the client library (shared and static) with
# its public headers, a CMake package and a pkg-config file, the sample
# dictionaries, manual pages and bash completion. Honours
# CMAKE_INSTALL_PREFIX and DESTDIR; folders from GNUInstallDirs:
#
# | what                         | where                                       |
# |------------------------------|---------------------------------------------|
# | vandrel                      | bindir                                      |
# | vandrel-service              | libexecdir/vandrel                          |
# | libvandrel-client.so.*, .a   | libdir                                      |
# | public headers               | includedir/vandrel/{client,protocol,...}    |
# | CMake package                | libdir/cmake/Vandrel                        |
# | vandrel-client.pc            | libdir/pkgconfig                            |
# | sample dictionaries          | datadir/vandrel/dic                         |
# | manual pages                 | mandir/man1                                 |
# | bash completion              | datadir/bash-completion/completions         |
include(CMakePackageConfigHelpers)

# The client library for other programs: the client objects with the
# messaging layer and the platform pieces they stand on, as one shared
# library (versioned, with a soname) and one static archive. Those three
# layers are compiled position-independent for it; the wire contract
# (protocol/) is headers only.
set_target_properties(vandrel_client vandrel_messaging vandrel_platform PROPERTIES
  POSITION_INDEPENDENT_CODE ON)
# The installed layout, for finding the service and the samples.
target_include_directories(vandrel_client PRIVATE ${VANDREL_GENERATED_DIR})
target_include_directories(vandrel_service PRIVATE ${VANDREL_GENERATED_DIR})
set(client_objects $<TARGET_OBJECTS:vandrel_client> $<TARGET_OBJECTS:vandrel_messaging>
                   $<TARGET_OBJECTS:vandrel_platform>)
add_library(vandrel_client_shared SHARED ${client_objects})
add_library(vandrel_client_static STATIC ${client_objects})
foreach(t vandrel_client_shared vandrel_client_static)
  set_target_properties(${t} PROPERTIES OUTPUT_NAME vandrel-client
                        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib
                        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
  target_include_directories(${t} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/vandrel>)
  target_compile_features(${t} INTERFACE cxx_std_20)
endforeach()
set_target_properties(vandrel_client_shared PROPERTIES EXPORT_NAME client
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
set_target_properties(vandrel_client_static PROPERTIES EXPORT_NAME client_static)
target_link_libraries(vandrel_client_shared PRIVATE Threads::Threads)
target_link_options(vandrel_client_shared PRIVATE -Wl,--no-undefined)
target_link_libraries(vandrel_client_static INTERFACE Threads::Threads)

install(TARGETS vandrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS vandrel-service RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/vandrel)
install(TARGETS vandrel_client_shared vandrel_client_static EXPORT VandrelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

# Public headers: what a client program includes - the client objects, the
# error type, the wire contract (protocol/), and the messaging and platform
# types those headers expose. service/query_ids.h and model/model_ids.h
# forward to protocol/ for programs written against the older paths.
# tests/install compiles each one on its own.
set(VANDREL_PUBLIC_HEADERS
  client/base_client.h client/base_man_client.h client/base_set_client.h
  client/cursor_client.h client/message_pump.h client/remote_object.h
  client/service_connection.h client/service_error.h client/service_launcher.h
  protocol/manager_ids.h protocol/message_ids.h protocol/model_ids.h protocol/page_ids.h protocol/transfer_ids.h
  model/model_ids.h
  service/query_ids.h service/errors.h service/handle_object.h service/link_object.h service/message.h
  service/notify.h service/transfer_man.h
  platform/exceptions.h platform/unique_handle.h platform/win_types.h)
foreach(h ${VANDREL_PUBLIC_HEADERS})
  get_filename_component(dir ${h} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${h} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vandrel/${dir})
endforeach()

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Vandrel)
install(EXPORT VandrelTargets NAMESPACE Vandrel:: DESTINATION ${package_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VandrelConfig.cmake.in
  ${CMAKE_BINARY_DIR}/cmake/VandrelConfig.cmake INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/VandrelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/VandrelConfig.cmake
              ${CMAKE_BINARY_DIR}/cmake/VandrelConfigVersion.cmake
        DESTINATION ${package_dir})
configure_file(${PROJECT_SOURCE_DIR}/cmake/vandrel-client.pc.in
  ${CMAKE_BINARY_DIR}/cmake/vandrel-client.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/cmake/vandrel-client.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The sample dictionaries are installed by samples/CMakeLists.txt.
install(FILES ${PROJECT_SOURCE_DIR}/doc/man/vandrel.1 ${PROJECT_SOURCE_DIR}/doc/man/vandrel-service.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/completion/vandrel
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
