# The library as a package for other programs. `cmake --install BUILD
# --prefix DIR` puts into DIR:
#   include/orvex/text.h, sysutil.h      the callers' headers (no test seams)
#   lib/liborvex_text.a, liborvex_sysutil.a
#   lib/cmake/orvex/                     find_package(orvex CONFIG): the
#                                        targets orvex::text and orvex::sysutil
#   lib/pkgconfig/orvex-text.pc, orvex-sysutil.pc
# The native build installs only what builds natively: the text and path
# operations. Every path in these files is relative to where they lie, so the
# installed tree can be moved or zipped.
#
# What the libraries are compiled with (charset, warnings, no exceptions)
# reaches no caller: they take it as $<BUILD_INTERFACE:...>, and the static
# link and reproducibility flags are options of this build's folders, never
# of a target. A caller gets only the include folder and the libraries.
include(CMakePackageConfigHelpers)

set(ORVEX_PACKAGE_CMAKE_DIR lib/cmake/orvex)
# The package's components: the library orvex_NAME, exported as orvex::NAME.
# A build installs those it makes (the native build: text alone); the config
# file names them all to a caller that asks for another.
set(ORVEX_PACKAGE_COMPONENTS text sysutil)
foreach(component IN LISTS ORVEX_PACKAGE_COMPONENTS)
  set_target_properties(orvex_${component} PROPERTIES EXPORT_NAME ${component})
endforeach()

target_include_directories(orvex_text INTERFACE $<INSTALL_INTERFACE:include>)
install(TARGETS orvex_text EXPORT orvexTargets ARCHIVE DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/text/text.h DESTINATION include/orvex)
if(ORVEX_SANITIZE)
  # Code built with the sanitizers calls into their runtime, which only the
  # link brings.
  target_link_options(orvex_text INTERFACE $<INSTALL_INTERFACE:${ORVEX_SANITIZE_LINK_FLAGS}>)
endif()

# One pkg-config file for a library: NAME, DESCRIPTION, REQUIRES, LIBS.
function(orvex_install_pkgconfig name description requires libs)
  set(PC_NAME ${name})
  set(PC_DESCRIPTION ${description})
  set(PC_REQUIRES ${requires})
  string(JOIN " " PC_LIBS ${libs})
  configure_file(${PROJECT_SOURCE_DIR}/scripts/cmake/orvex.pc.in
                 ${PROJECT_BINARY_DIR}/package/${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/${name}.pc DESTINATION lib/pkgconfig)
endfunction()

orvex_install_pkgconfig(orvex-text
  "Shift-JIS-safe string and path operations" ""
  "-lorvex_text;${ORVEX_SANITIZE_LINK_FLAGS}")

if(WIN32)
  install(TARGETS orvex_sysutil EXPORT orvexTargets ARCHIVE DESTINATION lib)
  install(FILES ${PROJECT_SOURCE_DIR}/sysutil/sysutil.h DESTINATION include/orvex)
  list(TRANSFORM ORVEX_SYSUTIL_SYSTEM_LIBS PREPEND -l OUTPUT_VARIABLE system_libs)
  orvex_install_pkgconfig(orvex-sysutil
    "File queries, directory listing, registry access, shell shortcuts and diagnostics"
    orvex-text "-lorvex_sysutil;${system_libs}")
endif()

install(EXPORT orvexTargets NAMESPACE orvex:: DESTINATION ${ORVEX_PACKAGE_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/scripts/cmake/orvexConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/orvexConfig.cmake
  INSTALL_DESTINATION ${ORVEX_PACKAGE_CMAKE_DIR})
# The library's version (CMakeLists.txt), not the program's. A caller that
# asks for one takes it or a later one with the same first two numbers, so
# one that relies on what a version changed refuses an older install. The
# check also refuses a build for another pointer size, so an i686 caller
# never picks up the x86_64 libraries.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/orvexConfigVersion.cmake
  VERSION ${ORVEX_LIBRARY_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/orvexConfig.cmake
              ${PROJECT_BINARY_DIR}/package/orvexConfigVersion.cmake
        DESTINATION ${ORVEX_PACKAGE_CMAKE_DIR})
