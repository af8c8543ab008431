# Builds the packages a user downloads, or installs into a fresh prefix, checks what they
# hold, and runs the probe and the host from there on the simulated library.
#
# cmake -DMODE=zip|install -DBUILD_DIR=... -DWORK_DIR=... [-DEMULATOR=wine] -P check_package.cmake
cmake_minimum_required(VERSION 3.25)

function(expect_files root expected)
  file(GLOB_RECURSE found RELATIVE "${root}" "${root}/*")
  list(SORT found)
  list(SORT expected)
  if(NOT found STREQUAL expected)
    message(FATAL_ERROR "${root} holds:\n  ${found}\nexpected:\n  ${expected}")
  endif()
endfunction()

function(expect_output directory needle)
  execute_process(COMMAND ${EMULATOR} ${ARGN}
    WORKING_DIRECTORY "${directory}" INPUT_FILE "${WORK_DIR}/empty"
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status TIMEOUT 120)
  string(FIND "${out}" "${needle}" at)
  if(NOT status EQUAL 0 OR at EQUAL -1)
    message(FATAL_ERROR "${ARGN}: status ${status}, expected '${needle}' in:\n${out}\n${err}")
  endif()
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(WRITE "${WORK_DIR}/empty" "")

if(MODE STREQUAL "zip")
  execute_process(COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP -B "${WORK_DIR}/packages"
    WORKING_DIRECTORY "${BUILD_DIR}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cpack failed:\n${out}")
  endif()
  foreach(package release demo)
    set(zip "${WORK_DIR}/packages/Zarmite-0.9.1-win32.zip")
    if(package STREQUAL "demo")
      set(zip "${WORK_DIR}/packages/Zarmite-0.9.1-win32-demo.zip")
    endif()
    file(MAKE_DIRECTORY "${WORK_DIR}/${package}")
    file(ARCHIVE_EXTRACT INPUT "${zip}" DESTINATION "${WORK_DIR}/${package}")
  endforeach()
  # The release must not carry the simulated library: it would shadow the vendor's.
  expect_files("${WORK_DIR}/release"
               "Zarmite.dll;ZarmiteCLI.exe;Zarmite.cfg.example;user-guide.md;zarmite-alerts.yml;windows-gpu/nvpmapi.dll;windows-gpu/windows-gpu-library.txt")
  expect_files("${WORK_DIR}/demo"
               "Zarmite.dll;ZarmiteCLI.exe;zarmite-host.exe;nvpmapi.dll;Zarmite.cfg")
  # Unpacked, the demo finds its library beside the EXE, with nothing on the path.
  unset(ENV{WINEPATH})
  expect_output("${WORK_DIR}/demo" "Number of available counters: 14" "${WORK_DIR}/demo/ZarmiteCLI.exe")
  expect_output("${WORK_DIR}/demo" "Sources: 4"
                "${WORK_DIR}/demo/zarmite-host.exe" --plugin Zarmite.dll --rounds 1)
  expect_output("${WORK_DIR}/release" "initialization failed with error code: 4294967294"
                "${WORK_DIR}/release/ZarmiteCLI.exe")
elseif(MODE STREQUAL "install")
  set(prefix "${WORK_DIR}/prefix")
  execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "install failed:\n${out}")
  endif()
  expect_files("${prefix}"
    "bin/ZarmiteCLI;bin/zarmite-host;bin/zarmite-fleet-config;lib/systemd/system/zarmite-host.service;lib/zarmite/Zarmite.cfg;lib/zarmite/Zarmite.so;lib/zarmite/nvml/libnvpmapi.so;lib/zarmite/gpu/libnvpmapi.so;lib/zarmite/demo/Zarmite.so;lib/zarmite/demo/Zarmite.cfg;lib/zarmite/demo/libnvpmapi.so;share/doc/Zarmite/Zarmite.cfg.example;share/doc/Zarmite/user-guide.md;share/doc/Zarmite/zarmite-alerts.yml")
  execute_process(COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/check_search_paths.sh" "${prefix}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "an installed binary searches the current folder:\n${out}")
  endif()
  set(ENV{LD_LIBRARY_PATH} "${prefix}/lib/zarmite/demo")
  expect_output("${WORK_DIR}" "Number of available counters: 14" "${prefix}/bin/ZarmiteCLI")
  expect_output("${WORK_DIR}" "Sources: 4" "${prefix}/bin/zarmite-host"
                --plugin "${prefix}/lib/zarmite/demo/Zarmite.so" --rounds 1 --interval-ms 0)
  # With only the driver's library on the search path (here its stand-in), the installed
  # probe and plug-in find the GPU counter library by their own search path, and it reads
  # the machine's NVIDIA GPU (here one that a fake /sys lists) through NVML.
  set(ENV{LD_LIBRARY_PATH} "${BUILD_DIR}/nvml-stand-in")
  file(MAKE_DIRECTORY "${WORK_DIR}/root/sys/bus/pci/drivers/nvidia/0000:01:00.0")
  file(WRITE "${WORK_DIR}/scenario.txt" "pci 0 0000:01:00.0\n")
  set(ENV{ZARMITE_DRM_ROOT} "${WORK_DIR}/root")
  set(ENV{ZARMITE_NVML_SCENARIO} "${WORK_DIR}/scenario.txt")
  if(SANITIZED)
    return()
  endif()
  expect_output("${WORK_DIR}" "Number of available counters: 39" "${prefix}/bin/ZarmiteCLI")
  expect_output("${WORK_DIR}" "(GPU 0: nvidia 0000:01:00.0, Stand-in GPU 0)" "${prefix}/bin/ZarmiteCLI")
  # The installed host finds the same library as the probe, by its own search path.
  expect_output("${WORK_DIR}" "1 GPU in the counter library ${prefix}/bin/../lib/zarmite/gpu/libnvpmapi.so"
                "${prefix}/bin/zarmite-host" --gpus)
  # The installed service configuration is the fleet script's for a machine with one GPU,
  # and the installed script writes it, as the guide runs it: with no argument, the probe
  # found beside it although the prefix's bin is not on the PATH.
  execute_process(COMMAND "${prefix}/bin/zarmite-fleet-config"
    OUTPUT_VARIABLE fleet ERROR_VARIABLE err RESULT_VARIABLE status TIMEOUT 120)
  file(READ "${prefix}/lib/zarmite/Zarmite.cfg" installed)
  string(REGEX REPLACE "^(;[^\n]*\n)+" "" installed "${installed}")
  if(NOT status EQUAL 0 OR NOT fleet STREQUAL installed)
    message(FATAL_ERROR "zarmite-fleet-config: status ${status} ${err}\n${fleet}\ninstalled:\n${installed}")
  endif()
  # The unit names the installed files and passes systemd's own check.
  find_program(SYSTEMD_ANALYZE systemd-analyze)
  if(SYSTEMD_ANALYZE)
    execute_process(COMMAND ${SYSTEMD_ANALYZE} verify "${prefix}/lib/systemd/system/zarmite-host.service"
      OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE status TIMEOUT 120)
    if(NOT status EQUAL 0 OR NOT out STREQUAL "")
      message(FATAL_ERROR "systemd-analyze verify: ${status}\n${out}")
    endif()
  endif()
  file(WRITE "${prefix}/lib/zarmite/Zarmite.cfg" "[Source0]\nID=0\n")
  expect_output("${WORK_DIR}" "Round 1: 40.000000" "${prefix}/bin/zarmite-host"
                --plugin "${prefix}/lib/zarmite/Zarmite.so" --rounds 1 --interval-ms 0)
else()
  message(FATAL_ERROR "MODE must be zip or install")
endif()
