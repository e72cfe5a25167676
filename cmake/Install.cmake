# What `cmake --install` puts where, and the CPack archives of the same:
#   bin/VeltoMCP                                    the bridge (when it is built)
#   include/VeltoMCP/modules/velto_assistant/       the module, for juce_add_module and the Projucer
#   lib/cmake/VeltoMCP/                             find_package(VeltoMCP): velto::assistant, velto::VeltoMCP
#   share/doc/VeltoMCP/                             README.md, LICENSE and THIRD-PARTY-NOTICES.txt
include(CMakePackageConfigHelpers)
include(${CMAKE_CURRENT_LIST_DIR}/Notices.cmake)

install(DIRECTORY assistant/velto_assistant DESTINATION ${VELTO_INSTALL_MODULE_DIR})
install(TARGETS velto_assistant EXPORT VeltoMCPTargets)
install(FILES README.md LICENSE ${PROJECT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(velto_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/VeltoMCP)
install(EXPORT VeltoMCPTargets NAMESPACE velto:: DESTINATION ${velto_package_dir})
configure_package_config_file(cmake/VeltoMCPConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/VeltoMCPConfig.cmake
                              INSTALL_DESTINATION ${velto_package_dir}
                              PATH_VARS VELTO_INSTALL_MODULE_DIR)
# The module compiles inside the application, so any compiler and architecture will do
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VeltoMCPConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VeltoMCPConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/VeltoMCPConfigVersion.cmake
        DESTINATION ${velto_package_dir})

# Archives of the install, each with its SHA-256 beside it (<archive>.sha256)
if(CMAKE_OSX_ARCHITECTURES MATCHES ";")
    set(velto_package_architecture universal)
elseif(CMAKE_OSX_ARCHITECTURES)
    set(velto_package_architecture ${CMAKE_OSX_ARCHITECTURES})
else()
    set(velto_package_architecture ${CMAKE_SYSTEM_PROCESSOR})
endif()

set(CPACK_PACKAGE_NAME VeltoMCP)
set(CPACK_PACKAGE_VENDOR Velto)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "A local (stdio) MCP server that lets an AI application see and control Velto")
set(CPACK_PACKAGE_FILE_NAME VeltoMCP-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${velto_package_architecture})
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR TGZ ZIP)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
