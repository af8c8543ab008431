# What a user installs. Two components: "release" (the plug-in, the probe, the example
# configuration and the user guide; on Linux the host as a service too) and "demo" (the
# simulated counter library and a ready configuration, with a host on Windows). The simulated library never goes into the release: beside a
# host it would stand in for the vendor's library.
include(GNUInstallDirs)

if(WIN32)
  set(release_bin_dir .)
  set(release_plugin_dir .)
  set(release_doc_dir .)
  set(demo_dir .)
else()
  set(release_bin_dir ${CMAKE_INSTALL_BINDIR})
  set(release_plugin_dir ${CMAKE_INSTALL_LIBDIR}/zarmite)
  set(release_doc_dir ${CMAKE_INSTALL_DOCDIR})
  set(demo_dir ${CMAKE_INSTALL_LIBDIR}/zarmite/demo)
endif()

if(WIN32)
  install(FILES $<TARGET_FILE:Zarmite> DESTINATION ${release_plugin_dir} COMPONENT release)
  install(PROGRAMS $<TARGET_FILE:ZarmiteCLI> DESTINATION ${release_bin_dir} COMPONENT release)
else()
  # As targets, so that the install gives them their search path.
  install(TARGETS Zarmite LIBRARY DESTINATION ${release_plugin_dir} COMPONENT release)
  install(TARGETS ZarmiteCLI RUNTIME DESTINATION ${release_bin_dir} COMPONENT release)
endif()
if(TARGET nvpmapi_windows_gpu)
  # The Windows GPU counter library goes into a folder of its own with a note on when to
  # copy it beside the host: never silently beside a host that has the vendor's library.
  install(FILES $<TARGET_FILE:nvpmapi_windows_gpu> docs/windows-gpu-library.txt
          DESTINATION windows-gpu COMPONENT release)
endif()
if(TARGET nvpmapi_nvml)
  # The NVML counter library and the one over every GPU, each in a folder of its own:
  # nothing named like the vendor's library goes into the system's library folder. The
  # installed probe, host and plug-in search the GPU library's folder (their install RUNPATH):
  # it reads NVIDIA's GPUs through NVML as well as every other. LD_LIBRARY_PATH still
  # comes first for anyone who sets it, to the NVML library's folder for instance.
  set(nvml_dir ${release_plugin_dir}/nvml)
  set(gpu_dir ${release_plugin_dir}/gpu)
  install(FILES $<TARGET_FILE:nvpmapi_nvml> DESTINATION ${nvml_dir} COMPONENT release)
  install(FILES $<TARGET_FILE:nvpmapi_gpu> DESTINATION ${gpu_dir} COMPONENT release)
  file(RELATIVE_PATH probe_to_gpu /${release_bin_dir} /${gpu_dir})
  # Built with it too: a build-tree binary otherwise carries a RUNPATH of colons, room for
  # the install-time path, and the loader reads every empty entry as the current folder.
  # Relative to $ORIGIN, it names a folder that does not exist in the build tree.
  set_target_properties(ZarmiteCLI zarmite-host PROPERTIES INSTALL_RPATH "$ORIGIN/${probe_to_gpu}"
                                                           BUILD_WITH_INSTALL_RPATH ON)
  set_target_properties(Zarmite PROPERTIES INSTALL_RPATH "$ORIGIN/gpu" BUILD_WITH_INSTALL_RPATH ON)
endif()
install(FILES docs/Zarmite.cfg.example docs/user-guide.md docs/zarmite-alerts.yml
        DESTINATION ${release_doc_dir} COMPONENT release)

install(FILES $<TARGET_FILE:nvpmapi> demo/Zarmite.cfg DESTINATION ${demo_dir} COMPONENT demo)
if(WIN32)
  # The demo archive works on its own: the host finds the library beside its EXE.
  install(FILES $<TARGET_FILE:Zarmite> DESTINATION ${demo_dir} COMPONENT demo)
  install(PROGRAMS $<TARGET_FILE:ZarmiteCLI> $<TARGET_FILE:zarmite-host>
          DESTINATION ${demo_dir} COMPONENT demo)
else()
  install(FILES $<TARGET_FILE:Zarmite> DESTINATION ${demo_dir} COMPONENT demo)
  if(TARGET nvpmapi_nvml)
    # The demo's copy uses the simulated library, never the NVML one: no search path.
    install(CODE "file(RPATH_REMOVE FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${demo_dir}/$<TARGET_FILE_NAME:Zarmite>\")"
            COMPONENT demo)
  endif()
endif()

if(NOT WIN32)
  # zarmite-host as a service: the host, a systemd unit that runs it, a configuration beside
  # the plug-in with GPU 0's counters named as the fleet script names them, and the fleet
  # script to write one for every GPU. The unit names the prefix it is installed under.
  install(PROGRAMS $<TARGET_FILE:zarmite-host> DESTINATION ${release_bin_dir} COMPONENT release)
  install(FILES host/service/Zarmite.cfg DESTINATION ${release_plugin_dir} COMPONENT release)
  install(PROGRAMS scripts/fleet-config.py DESTINATION ${release_bin_dir}
          RENAME zarmite-fleet-config COMPONENT release)
  install(CODE "
    set(BIN_DIR \"\${CMAKE_INSTALL_PREFIX}/${release_bin_dir}\")
    set(PLUGIN_DIR \"\${CMAKE_INSTALL_PREFIX}/${release_plugin_dir}\")
    set(DOC_DIR \"\${CMAKE_INSTALL_PREFIX}/${release_doc_dir}\")
    set(unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/zarmite-host.service\")
    message(STATUS \"Installing: \${unit}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/host/service/zarmite-host.service.in\" \"\${unit}\" @ONLY)
  " COMPONENT release)
endif()

if(WIN32)
  set(package_system win32)
else()
  set(package_system linux)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Zarmite)
set(CPACK_PACKAGE_VENDOR Zarmite)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL release demo)
set(CPACK_ARCHIVE_RELEASE_FILE_NAME Zarmite-${PROJECT_VERSION}-${package_system})
set(CPACK_ARCHIVE_DEMO_FILE_NAME Zarmite-${PROJECT_VERSION}-${package_system}-demo)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
