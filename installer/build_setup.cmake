# Runs makensis on VelmoraSetup.nsi with the build's settings.
#   cmake -DCONFIG=<setup_config.cmake> -DOUT=<setup.exe> [-DSTAMP=<text>]
#         [-DSTAMP_FILE=<file>] -P build_setup.cmake
# The "TimeStamp" the setup writes is the moment of this build unless STAMP
# gives another: each new build resets the users' settings copies when
# installed, and installing the same setup again never does. STAMP_FILE
# receives the stamp, for the tests.
include("${CONFIG}")
if(NOT STAMP)
  string(TIMESTAMP STAMP "%Y-%m-%d %H:%M:%S UTC" UTC)
endif()
if(NOT SCANNER_VID_PID)
  file(STRINGS "${NAMES_NSH}" vid_pid_line REGEX "^!define FEEDER_DEFAULT_VID_PID ")
  string(REGEX REPLACE "^!define FEEDER_DEFAULT_VID_PID \"(.*)\"$" "\\1" SCANNER_VID_PID "${vid_pid_line}")
endif()
execute_process(
  COMMAND "${MAKENSIS}" -V2 -WX -NOCD
          "-DSETUP_OUT=${OUT}" "-DBUILD_STAMP=${STAMP}" "-DSCANNER_MODEL=${SCANNER_MODEL}"
          "-DSCANNER_VID_PID=${SCANNER_VID_PID}" "-DNAMES_NSH=${NAMES_NSH}" "-DFILES_NSH=${FILES_NSH}"
          "-DSETUP_ICON=${SETUP_ICON}" "-DMIN_WINDOWS_MAJOR=${MIN_WINDOWS_MAJOR}"
          "-DMIN_WINDOWS_MINOR=${MIN_WINDOWS_MINOR}" "-DMIN_WINDOWS_NAME=${MIN_WINDOWS_NAME}"
          "-DMAX_FOLDER_LENGTH=${MAX_FOLDER_LENGTH}" "${SCRIPT}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "makensis failed (${status})")
endif()
if(STAMP_FILE)
  file(WRITE "${STAMP_FILE}" "${STAMP}")
endif()
