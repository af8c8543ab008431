# Runs one end-to-end case the way a user or a host would, and compares what it leaves.
#
# Called as: cmake -DCASE_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DPLUGIN=... -DHOST=... -DHOST_ANONYMOUS=...
#   -DCLI=... -DKEY_AFTER=... -DSIM_DIR=... [-DEMULATOR=wine] -P run_case.cmake
#
# A case folder holds:
#   command            the command line; @HOST@, @HOST_ANONYMOUS@, @CLI@, @KEY_AFTER@,
#                      @PLUGIN@, @SIM_PLUGIN@ and @WORK@ are replaced
#   Zarmite.cfg        optional configuration, put beside the plug-in
#   config-from        or: the project's file to put there, relative to SOURCE_DIR
#   scenario.txt       optional scenario for the simulated library (@WORK@ replaced)
#   no-library         optional: the simulated library is not on the search path
#   nvml-scenario.txt  optional scenario for the driver library's stand-in (@WORK@ replaced)
#   linux-only         optional: the case needs what only the Linux build has
#   library-folder     optional: these folders of the build (a line each), not the simulated library's,
#                      is on the search path
#   stdout.txt         expected standard output, exactly (line breaks normalised)
#   stdout-prefix.txt  or: the output starts with this ...
#   sample-lines       ... and the rest is "MIN MAX" value or percent lines
#   stderr-contains    optional text that standard error must contain
#   exit-code          expected exit status (default 0)
#   log.txt            expected Zarmite.log, timestamps masked as "TS ", CR LF checked
#   no-log             optional: no log may be written
#   log-is-a-directory optional: a directory stands where the log would be written
#   record.txt         expected calls recorded by the simulated library
#   timeout            optional: the seconds the case may take (default 120); not run under
#                      the sanitizers
cmake_minimum_required(VERSION 3.25)

function(fail message)
  message(FATAL_ERROR "${CASE_DIR}: ${message}")
endfunction()

# Windows programs under Wine take Windows paths; Z: is the Unix root.
function(native_path path out)
  if(EMULATOR)
    string(REPLACE "/" "\\" path "${path}")
    set(path "Z:${path}")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

function(read_expected name out)
  file(READ "${CASE_DIR}/${name}" text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Fails unless `got` equals the case's file `name`.
function(expect_same name what got)
  read_expected(${name} expected)
  if(NOT got STREQUAL expected)
    fail("${what} differs.\n--- expected\n${expected}\n--- got\n${got}\n---")
  endif()
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
get_filename_component(plugin_name "${PLUGIN}" NAME)
get_filename_component(plugin_ext "${PLUGIN}" LAST_EXT)
file(COPY "${PLUGIN}" DESTINATION "${WORK_DIR}")
set(work_plugin "${WORK_DIR}/${plugin_name}")
if(EXISTS "${CASE_DIR}/Zarmite.cfg")
  file(COPY_FILE "${CASE_DIR}/Zarmite.cfg" "${WORK_DIR}/Zarmite.cfg")
endif()
if(EXISTS "${CASE_DIR}/config-from")
  file(STRINGS "${CASE_DIR}/config-from" config_from LIMIT_COUNT 1)
  file(COPY_FILE "${SOURCE_DIR}/${config_from}" "${WORK_DIR}/Zarmite.cfg")
endif()

if(EXISTS "${CASE_DIR}/log-is-a-directory")
  file(MAKE_DIRECTORY "${WORK_DIR}/Zarmite.log")
endif()

native_path("${WORK_DIR}" native_work)
if(EXISTS "${CASE_DIR}/scenario.txt")
  file(READ "${CASE_DIR}/scenario.txt" scenario)
  string(REPLACE "@WORK@" "${native_work}" scenario "${scenario}")
  file(WRITE "${WORK_DIR}/scenario.txt" "${scenario}")
  native_path("${WORK_DIR}/scenario.txt" native_scenario)
  set(ENV{ZARMITE_SIM_SCENARIO} "${native_scenario}")
else()
  unset(ENV{ZARMITE_SIM_SCENARIO})
endif()
if(EXISTS "${CASE_DIR}/nvml-scenario.txt")
  file(READ "${CASE_DIR}/nvml-scenario.txt" scenario)
  string(REPLACE "@WORK@" "${native_work}" scenario "${scenario}")
  file(WRITE "${WORK_DIR}/nvml-scenario.txt" "${scenario}")
  set(ENV{ZARMITE_NVML_SCENARIO} "${WORK_DIR}/nvml-scenario.txt")
else()
  unset(ENV{ZARMITE_NVML_SCENARIO})
endif()

# The counter library is found only through the platform's search order.
set(library_dir "${SIM_DIR}")
if(EXISTS "${CASE_DIR}/no-library")
  set(library_dir "${WORK_DIR}/no-library-here")
endif()
if(EXISTS "${CASE_DIR}/library-folder")
  file(STRINGS "${CASE_DIR}/library-folder" library_folders)
  set(library_dir "")
  foreach(folder IN LISTS library_folders)
    get_filename_component(folder "${SIM_DIR}/../${folder}" ABSOLUTE)
    if(library_dir STREQUAL "")
      set(library_dir "${folder}")
    else()
      set(library_dir "${library_dir}:${folder}")
    endif()
  endforeach()
endif()
if(EMULATOR)
  native_path("${library_dir}" native_library_dir)
  set(ENV{WINEPATH} "${native_library_dir}")
else()
  set(ENV{LD_LIBRARY_PATH} "${library_dir}")
endif()

if(EMULATOR)
  set(sim_plugin "${SIM_DIR}/nvpmapi.dll")
else()
  set(sim_plugin "${SIM_DIR}/libnvpmapi.so")
endif()

file(STRINGS "${CASE_DIR}/command" command_line LIMIT_COUNT 1)
separate_arguments(command UNIX_COMMAND "${command_line}")
native_path("${work_plugin}" native_plugin)
native_path("${sim_plugin}" native_sim_plugin)
native_path("${CLI}" native_cli)
set(arguments)
foreach(word IN LISTS command)
  string(REPLACE "@HOST@" "${HOST}" word "${word}")
  string(REPLACE "@HOST_ANONYMOUS@" "${HOST_ANONYMOUS}" word "${word}")
  string(REPLACE "@KEY_AFTER@" "${KEY_AFTER}" word "${word}")
  string(REPLACE "@CLI_NATIVE@" "${native_cli}" word "${word}")
  string(REPLACE "@CLI@" "${CLI}" word "${word}")
  string(REPLACE "@PLUGIN@" "${native_plugin}" word "${word}")
  string(REPLACE "@SIM_PLUGIN@" "${native_sim_plugin}" word "${word}")
  string(REPLACE "@WORK@" "${native_work}" word "${word}")
  list(APPEND arguments "${word}")
endforeach()

# Standard input is an empty file: at its end, so every wait for a key ends at once.
file(WRITE "${WORK_DIR}/stdin.txt" "")
# A case that takes long by design says how long it may take.
set(case_timeout 120)
if(EXISTS "${CASE_DIR}/timeout")
  file(READ "${CASE_DIR}/timeout" case_timeout)
  string(STRIP "${case_timeout}" case_timeout)
endif()
execute_process(
  COMMAND ${EMULATOR} ${arguments}
  WORKING_DIRECTORY "${WORK_DIR}"
  INPUT_FILE "${WORK_DIR}/stdin.txt"
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  RESULT_VARIABLE status
  TIMEOUT ${case_timeout})
string(REPLACE "\r\n" "\n" out "${out}")
file(WRITE "${WORK_DIR}/stdout.got" "${out}")

set(expected_status 0)
if(EXISTS "${CASE_DIR}/exit-code")
  file(STRINGS "${CASE_DIR}/exit-code" expected_status LIMIT_COUNT 1)
endif()
if(NOT "${status}" STREQUAL "${expected_status}")
  fail("exit status ${status}, expected ${expected_status}\nstdout:\n${out}\nstderr:\n${err}")
endif()

if(EXISTS "${CASE_DIR}/stdout.txt")
  expect_same(stdout.txt "standard output" "${out}")
endif()

if(EXISTS "${CASE_DIR}/stdout-prefix.txt")
  read_expected(stdout-prefix.txt prefix)
  string(LENGTH "${prefix}" prefix_length)
  string(SUBSTRING "${out}" 0 ${prefix_length} head)
  if(NOT head STREQUAL prefix)
    fail("standard output does not start as expected.\n--- expected\n${prefix}\n--- got\n${out}")
  endif()
  string(SUBSTRING "${out}" ${prefix_length} -1 rest)
  string(REGEX REPLACE "\n$" "" rest "${rest}")
  string(REPLACE "\n" ";" lines "${rest}")
  list(LENGTH lines count)
  if(rest STREQUAL "")
    set(count 0)
  endif()
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^(Value: [0-9]+  Cycle: [0-9]+|Percent: [0-9]+\\.[0-9]+)$")
      fail("unexpected line after the prefix: '${line}'\n${out}")
    endif()
  endforeach()
  file(STRINGS "${CASE_DIR}/sample-lines" range LIMIT_COUNT 1)
  separate_arguments(range UNIX_COMMAND "${range}")
  list(GET range 0 low)
  list(GET range 1 high)
  if(count LESS low OR count GREATER high)
    fail("${count} sample lines, expected ${low} to ${high}\n${out}")
  endif()
endif()

if(EXISTS "${CASE_DIR}/stderr-contains")
  file(STRINGS "${CASE_DIR}/stderr-contains" needle LIMIT_COUNT 1)
  string(FIND "${err}" "${needle}" found)
  if(found EQUAL -1)
    fail("standard error lacks '${needle}':\n${err}")
  endif()
endif()

set(log "${WORK_DIR}/Zarmite.log")
if(EXISTS "${CASE_DIR}/no-log" AND EXISTS "${log}")
  fail("a log was written")
endif()
if(EXISTS "${CASE_DIR}/log.txt")
  if(NOT EXISTS "${log}")
    fail("no log was written")
  endif()
  # file(READ) drops carriage returns from text, so the line breaks are checked byte-wise.
  file(READ "${log}" log_hex HEX)
  string(REGEX MATCHALL "[0-9a-f][0-9a-f]" log_bytes "${log_hex}")
  set(previous "")
  foreach(byte IN LISTS log_bytes)
    if(byte STREQUAL "0a" AND NOT previous STREQUAL "0d")
      fail("the log has a line break without CR")
    endif()
    set(previous "${byte}")
  endforeach()
  file(READ "${log}" got_log)
  string(REPLACE "\r\n" "\n" got_log "${got_log}")
  string(REGEX REPLACE
         "[0-9][0-9]-[0-9][0-9]-[0-9][0-9][0-9][0-9]+, [0-9][0-9]:[0-9][0-9]:[0-9][0-9]\\.[0-9][0-9][0-9] "
         "TS " got_log "${got_log}")
  expect_same(log.txt "the log" "${got_log}")
endif()

if(EXISTS "${CASE_DIR}/record.txt")
  set(got_record "")
  if(EXISTS "${WORK_DIR}/record.txt")
    file(READ "${WORK_DIR}/record.txt" got_record)
  endif()
  string(REPLACE "\r\n" "\n" got_record "${got_record}")
  expect_same(record.txt "the recorded calls" "${got_record}")
endif()
