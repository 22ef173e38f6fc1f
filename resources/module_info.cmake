# Reads module_info.json, the one source of the module's version block, type
# library and string table, into TINTWELL_MODULE_* variables of the including
# scope. Included before project(), whose version comes from here too.
#
# String values are restricted to printable ASCII without quotes or
# backslashes, so they stand unescaped in every generated form.

set(_info_file "${CMAKE_CURRENT_LIST_DIR}/module_info.json")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_info_file}")
file(READ "${_info_file}" _info)

function(_tintwell_info_get out)
    string(JSON value GET "${_info}" ${ARGN})
    set(${out} "${value}" PARENT_SCOPE)
endfunction()

# Stops the configuration unless `value` matches `pattern`.
function(_tintwell_require what value pattern expected)
    if(NOT value MATCHES "${pattern}")
        message(FATAL_ERROR "${_info_file}: ${what} '${value}' must be ${expected}")
    endif()
endfunction()

function(_tintwell_check_number what value)
    _tintwell_require("${what}" "${value}" "^(0x[0-9A-Fa-f]+|[0-9]+)$" "a number")
endfunction()

_tintwell_info_get(TINTWELL_MODULE_NAME name)
_tintwell_info_get(TINTWELL_MODULE_VERSION version)
_tintwell_info_get(TINTWELL_MODULE_LANGUAGE language)
_tintwell_require(version "${TINTWELL_MODULE_VERSION}" "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$"
    "four numbers, like 1.0.0.1")
string(REPLACE "." "," TINTWELL_MODULE_VERSION_COMMAS "${TINTWELL_MODULE_VERSION}")
string(REPLACE "." ", " _version_text "${TINTWELL_MODULE_VERSION}")

# Expands {name} and {version} and refuses what cannot stand unescaped.
function(_tintwell_expand out text)
    string(REPLACE "{name}" "${TINTWELL_MODULE_NAME}" text "${text}")
    string(REPLACE "{version}" "${_version_text}" text "${text}")
    if(NOT text MATCHES "^[ -~]*$" OR text MATCHES "[\"\\]")
        message(FATAL_ERROR "${_info_file}: '${text}' must be printable ASCII without quotes or backslashes")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# A four-digit upper-case hexadecimal number, as in the string block name.
function(_tintwell_hex4 out value)
    math(EXPR value "${value}" OUTPUT_FORMAT HEXADECIMAL)
    string(SUBSTRING "${value}" 2 -1 digits)
    string(TOUPPER "${digits}" digits)
    string(LENGTH "${digits}" length)
    while(length LESS 4)
        string(PREPEND digits "0")
        math(EXPR length "${length} + 1")
    endwhile()
    set(${out} "${digits}" PARENT_SCOPE)
endfunction()

# Language 0x0409 is primary language 0x09 with sublanguage 0x01.
_tintwell_check_number(language "${TINTWELL_MODULE_LANGUAGE}")
math(EXPR TINTWELL_MODULE_LANGUAGE_PRIMARY "${TINTWELL_MODULE_LANGUAGE} & 0x3FF" OUTPUT_FORMAT HEXADECIMAL)
math(EXPR TINTWELL_MODULE_LANGUAGE_SUB "${TINTWELL_MODULE_LANGUAGE} >> 10" OUTPUT_FORMAT HEXADECIMAL)

# The fixed part of the version block.
foreach(field IN ITEMS fileFlagsMask fileFlags fileOS fileType fileSubtype fileDate codePage)
    _tintwell_info_get(value versionBlock ${field})
    _tintwell_check_number(${field} "${value}")
    string(TOUPPER "${field}" upper)
    set(TINTWELL_MODULE_${upper} "${value}")
endforeach()
if(NOT TINTWELL_MODULE_FILEDATE EQUAL 0)
    message(FATAL_ERROR "${_info_file}: a resource script cannot set the file date; it must be 0")
endif()
_tintwell_hex4(_language_hex "${TINTWELL_MODULE_LANGUAGE}")
_tintwell_hex4(_code_page_hex "${TINTWELL_MODULE_CODEPAGE}")
set(TINTWELL_MODULE_STRING_BLOCK "${_language_hex}${_code_page_hex}")

# Ordered (key, value) pairs as two parallel lists of indices:
# TINTWELL_MODULE_<table>_COUNT, TINTWELL_MODULE_<table>_KEY_<i>, TINTWELL_MODULE_<table>_VALUE_<i>.
function(_tintwell_read_pairs table)
    string(JSON count LENGTH "${_info}" ${ARGN})
    set(TINTWELL_MODULE_${table}_COUNT ${count} PARENT_SCOPE)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
        _tintwell_info_get(key ${ARGN} ${i} 0)
        _tintwell_info_get(value ${ARGN} ${i} 1)
        _tintwell_expand(value "${value}")
        set(TINTWELL_MODULE_${table}_KEY_${i} "${key}" PARENT_SCOPE)
        set(TINTWELL_MODULE_${table}_VALUE_${i} "${value}" PARENT_SCOPE)
    endforeach()
endfunction()
_tintwell_read_pairs(STRINGS versionBlock strings)
_tintwell_read_pairs(STRING_TABLE stringTable)
math(EXPR _last "${TINTWELL_MODULE_STRINGS_COUNT} - 1")
foreach(i RANGE ${_last})
    _tintwell_require("version string key" "${TINTWELL_MODULE_STRINGS_KEY_${i}}" "^[A-Za-z]+$" "letters only")
endforeach()
math(EXPR _last "${TINTWELL_MODULE_STRING_TABLE_COUNT} - 1")
foreach(i RANGE ${_last})
    _tintwell_check_number("string id" "${TINTWELL_MODULE_STRING_TABLE_KEY_${i}}")
endforeach()

# The type library. Its locale is the language of the resources.
foreach(field IN ITEMS id name version platform guid)
    _tintwell_info_get(value typeLibrary ${field})
    _tintwell_expand(value "${value}")
    string(TOUPPER "${field}" upper)
    set(TINTWELL_TYPELIB_${upper} "${value}")
endforeach()
_tintwell_check_number("type library id" "${TINTWELL_TYPELIB_ID}")
_tintwell_require("type library name" "${TINTWELL_TYPELIB_NAME}" "^[A-Za-z_][A-Za-z0-9_]*$" "an identifier")
_tintwell_require("type library version" "${TINTWELL_TYPELIB_VERSION}" "^[0-9]+\\.[0-9]+$" "like 1.0")
# CMake's regular expressions have no counted repetition: 8-4-4-4-12 digits.
set(_hex4 "[0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F]")
_tintwell_require("type library GUID" "${TINTWELL_TYPELIB_GUID}"
    "^${_hex4}${_hex4}-${_hex4}-${_hex4}-${_hex4}-${_hex4}${_hex4}${_hex4}$"
    "like 01234567-89ab-cdef-0123-456789abcdef")
# widl builds type libraries for one platform per run: --win32 here.
_tintwell_require("type library platform" "${TINTWELL_TYPELIB_PLATFORM}" "^win32$" "win32")

unset(_info)
unset(_last)
unset(_hex4)
