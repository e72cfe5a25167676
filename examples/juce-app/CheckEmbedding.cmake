cmake_minimum_required(VERSION 3.22)

# After the application is linked: it must hold one juce_core, its own, and velto::assistant must
# have added or changed none of its compile definitions. Run with cmake -P and these set:
#   LINK_MAP              the linker's map of the application
#   COMPILE_COMMANDS      compile_commands.json of the application's build
#   APP_TARGET            the application's target
#   TWIN_TARGET           the same application without the module, configured but never built
#   APP_MAIN              a source that both compile
#   MODULE_FOLDER         the module's folder (velto_assistant)
#   MODULE_BINARY_FOLDER  where the module's own build puts its files, if it has one
#   MODULE_DEFINITIONS    the definitions that bringing the module in may add: juce_add_module's
#                         mark that it is there, JUCE_MODULE_AVAILABLE_velto_assistant, and nothing else
#   HOW                   how the module came in, for the message

# One juce_core object is linked in: the map names every object, an archive's members included
file(READ "${LINK_MAP}" map)
string(REGEX MATCHALL "[^ \t\r\n()]*juce_core\\.(cpp|mm)\\.o" objects "${map}")
list(REMOVE_DUPLICATES objects)
list(LENGTH objects linked)

if(NOT linked EQUAL 1)
    message(FATAL_ERROR "juce_core is linked into ${APP_TARGET} ${linked} times: ${objects}")
endif()

# ...and the module's own build compiled none
file(GLOB_RECURSE module_juce_objects "${MODULE_BINARY_FOLDER}/*juce_core*.o")

if(module_juce_objects)
    message(FATAL_ERROR "velto::assistant compiled juce_core by itself: ${module_juce_objects}")
endif()

# The definitions that a compile command passes, as a sorted list
function(definitions_of command result)
    string(REGEX MATCHALL "-D[^ ]+" found "${command}")
    list(SORT found)
    set(${result} "${found}" PARENT_SCOPE)
endfunction()

file(READ "${COMPILE_COMMANDS}" commands)
string(JSON count LENGTH "${commands}")
math(EXPR last "${count} - 1")
file(REAL_PATH "${MODULE_FOLDER}" MODULE_FOLDER)
file(REAL_PATH "${APP_MAIN}" main)
# The module's compile units, by JUCE's rule: the sources at its top named after it
get_filename_component(module_name "${MODULE_FOLDER}" NAME)
file(GLOB module_sources "${MODULE_FOLDER}/${module_name}*.cpp")
list(LENGTH module_sources module_source_count)
set(module_compiled 0)

foreach(i RANGE ${last})
    string(JSON file GET "${commands}" ${i} file)
    string(JSON command GET "${commands}" ${i} command)
    file(REAL_PATH "${file}" file)

    if(command MATCHES "CMakeFiles/${APP_TARGET}\\.dir/")
        set(target ${APP_TARGET})
    elseif(command MATCHES "CMakeFiles/${TWIN_TARGET}\\.dir/")
        set(target ${TWIN_TARGET})
    else()
        continue()
    endif()

    definitions_of("${command}" definitions)

    if(file STREQUAL main)
        set(main_definitions_${target} "${definitions}")
    elseif(target STREQUAL APP_TARGET AND file IN_LIST module_sources)
        math(EXPR module_compiled "${module_compiled} + 1")
        set(module_definitions_${module_compiled} "${definitions}")
        set(module_file_${module_compiled} "${file}")
    endif()
endforeach()

if(NOT module_compiled EQUAL module_source_count)
    message(FATAL_ERROR "${module_compiled} of the module's ${module_source_count} sources are compiled in ${APP_TARGET}: the module must compile with the application's own settings")
endif()

set(expected_definitions ${main_definitions_${TWIN_TARGET}} ${MODULE_DEFINITIONS})
list(SORT expected_definitions)

if(NOT main_definitions_${APP_TARGET} STREQUAL expected_definitions)
    set(added ${main_definitions_${APP_TARGET}})
    list(REMOVE_ITEM added ${expected_definitions})
    set(lost ${expected_definitions})
    list(REMOVE_ITEM lost ${main_definitions_${APP_TARGET}})
    message(FATAL_ERROR "velto::assistant changes the compile definitions of ${APP_TARGET}: added ${added}; lost ${lost}")
endif()

foreach(i RANGE 1 ${module_compiled})
    if(NOT module_definitions_${i} STREQUAL main_definitions_${APP_TARGET})
        message(FATAL_ERROR "${module_file_${i}} is compiled with other definitions than ${APP_TARGET}")
    endif()
endforeach()

list(LENGTH main_definitions_${APP_TARGET} definition_count)
if(MODULE_DEFINITIONS)
    set(marked ", but for JUCE's own ${MODULE_DEFINITIONS}")
endif()

message(STATUS "${APP_TARGET}: one juce_core linked in; the module (by ${HOW}) compiled in ${module_compiled} unit with the application's own ${definition_count} definitions, and none added or changed${marked}")
