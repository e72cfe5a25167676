# THIRD-PARTY-NOTICES.txt, beside the bridge in the build folder and in every package: what the
# bridge contains besides this project's own code, juce_core, zlib and the module's number
# libraries, each with the notice of its
# licence taken from the very source that the build compiles, so that the two cannot disagree.
# Its second line gives the licence of the whole program as an SPDX expression, for the bundle's
# manifest.

# The first comment of a source file: where JUCE and zlib put their copyright and licence
function(velto_first_comment file out)
    file(READ ${file} text)
    string(FIND "${text}" "*/" comment_end)
    math(EXPR comment_end "${comment_end} + 2")
    string(SUBSTRING "${text}" 0 ${comment_end} comment)
    set(${out} "${comment}" PARENT_SCOPE)
endfunction()

set(velto_juce_core_header ${JUCE_MODULES_DIR}/juce_core/juce_core.h)
if(NOT EXISTS ${velto_juce_core_header})
    message(FATAL_ERROR "juce_core.h is not at ${velto_juce_core_header}: the notices need JUCE_MODULES_DIR, which JUCE sets")
endif()

file(STRINGS ${velto_juce_core_header} velto_juce_version REGEX "^ *version: ")
string(REGEX REPLACE "^ *version: *([^ ]*) *$" "\\1" velto_juce_version "${velto_juce_version}")
velto_first_comment(${velto_juce_core_header} velto_juce_notice)

# JUCE 7's juce_core is under the ISC licence; JUCE 8's modules under the AGPLv3 or JUCE's EULA
if(velto_juce_notice MATCHES "ISC license")
    set(velto_juce_licence "ISC")
    set(velto_juce_terms
"juce_core ${velto_juce_version} is under the ISC licence: its copyright and permission notice,
below, must go with every copy of the program.")
elseif(velto_juce_notice MATCHES "AGPLv3")
    set(velto_juce_licence "(AGPL-3.0-only OR LicenseRef-JUCE-EULA)")
    set(velto_juce_terms
"In JUCE ${velto_juce_version}, juce_core is under the GNU Affero General Public Licence version 3
(AGPLv3), or under the JUCE End User Licence Agreement for whoever holds a JUCE licence.
Whoever distributes this program must either hold a JUCE licence that covers it, or
distribute it under the AGPLv3's terms, which include offering its whole source, VeltoMCP's
and JUCE's, to everyone who receives it.")
else()
    message(FATAL_ERROR "The licence of juce_core ${velto_juce_version} is neither JUCE 7's ISC nor JUCE 8's AGPLv3 "
                        "or EULA: ${velto_juce_core_header} must be read, and cmake/Notices.cmake taught it")
endif()

# zlib: JUCE's own copy where JUCE compiles it in, else the system's, which the bridge then links
if(EXISTS ${JUCE_MODULES_DIR}/juce_core/zip/zlib/zlib.h)
    set(velto_zlib_header ${JUCE_MODULES_DIR}/juce_core/zip/zlib/zlib.h)
else()
    find_path(velto_zlib_folder zlib.h)
    if(NOT velto_zlib_folder)
        message(FATAL_ERROR "No zlib.h: juce_core needs zlib, and the notices its licence")
    endif()
    set(velto_zlib_header ${velto_zlib_folder}/zlib.h)
endif()

file(STRINGS ${velto_zlib_header} velto_zlib_version REGEX "#define ZLIB_VERSION ")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" velto_zlib_version "${velto_zlib_version}")
velto_first_comment(${velto_zlib_header} velto_zlib_notice)

# The number libraries inside the module, each under the one of its licences that asks least:
# Dragonbox under the Boost Software Licence, fast_float under the MIT licence
set(velto_third_party ${PROJECT_SOURCE_DIR}/assistant/velto_assistant/third_party)
file(READ ${velto_third_party}/dragonbox/LICENSE-Boost velto_dragonbox_licence)
file(READ ${velto_third_party}/fast_float/LICENSE-MIT velto_fast_float_licence)

set(VELTO_LICENCE_EXPRESSION "MIT AND ${velto_juce_licence} AND Zlib AND BSL-1.0")
file(WRITE ${PROJECT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt
"Third-party notices of VeltoMCP ${PROJECT_VERSION}, built with JUCE ${velto_juce_version}
Licence (SPDX): ${VELTO_LICENCE_EXPRESSION}

VeltoMCP's own code is under the MIT licence: see LICENSE. The VeltoMCP program also contains
the code of juce_core ${velto_juce_version}, from JUCE (https://juce.com), and zlib ${velto_zlib_version}
(https://zlib.net), each under its own licence, whose notice follows as its source gives it; and
Dragonbox 1.1.3 by Junekey Jeon and fast_float 8.2.9 by the fast_float authors, which write and
read its numbers, each under the licence whose text follows.

== juce_core ${velto_juce_version}

${velto_juce_terms}

${velto_juce_notice}

== zlib ${velto_zlib_version}

${velto_zlib_notice}

== Dragonbox 1.1.3, Copyright 2020-2022 Junekey Jeon, under the Boost Software Licence 1.0
   (it may also be used under the Apache Licence 2.0 with LLVM Exceptions)

${velto_dragonbox_licence}
== fast_float 8.2.9, under the MIT licence
   (it may also be used under the Apache Licence 2.0 or the Boost Software Licence 1.0)

${velto_fast_float_licence}")
