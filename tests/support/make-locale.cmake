# Compiles the decimal-comma locale that the locale tests switch the process to, into FOLDER,
# which the tests then name in LOCPATH: Debian ships only C.UTF-8. CTest runs this once, before
# any test that needs it, so that no test can find the folder half written. It is made anew
# each time, so that a run never rests on what an earlier one left.
#   cmake -DFOLDER=<folder> -DLOCALE=de_DE.UTF-8 -P make-locale.cmake
file(REMOVE_RECURSE "${FOLDER}")
file(MAKE_DIRECTORY "${FOLDER}")
string(REGEX REPLACE "\\..*$" "" source "${LOCALE}")

# localedef warns, and exits 1, about details of the locale's sources: what counts is whether
# it wrote the numeric category
execute_process(COMMAND localedef -i "${source}" -f UTF-8 "${FOLDER}/${LOCALE}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)

if(NOT EXISTS "${FOLDER}/${LOCALE}/LC_NUMERIC")
    message(FATAL_ERROR "localedef could not make ${LOCALE} (status ${status}; Debian: the locales package):\n${output}")
endif()
message(STATUS "made ${LOCALE} in ${FOLDER}")
