# Writes the resource compiler's VERSIONINFO statement from res/version.txt, which also gives the
# project its version: one place for the version block of both systems.
function(pintool_version_block source output)
    file(STRINGS "${source}" lines ENCODING UTF-8)
    set(fixed "")
    set(strings "")
    set(block "")
    set(translation "")
    foreach(line IN LISTS lines)
        if(line MATCHES "^#" OR line STREQUAL "")
            continue()
        elseif(line MATCHES "^(FILEVERSION|PRODUCTVERSION) ([0-9.]+)$")
            string(REPLACE "." "," numbers "${CMAKE_MATCH_2}")
            string(APPEND fixed "${CMAKE_MATCH_1} ${numbers}\n")
        elseif(line MATCHES "^(FILEFLAGSMASK|FILEFLAGS|FILEOS|FILETYPE) (.+)$")
            string(APPEND fixed "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}\n")
        elseif(line MATCHES "^BLOCK ([0-9A-Fa-f]+)$")
            set(block "${CMAKE_MATCH_1}")
        elseif(line MATCHES "^Translation=(.+)$")
            set(translation "${CMAKE_MATCH_1}")
        elseif(line MATCHES "^([A-Za-z]+)=(.*)$")
            string(REPLACE "\"" "\"\"" value "${CMAKE_MATCH_2}")
            string(APPEND strings "            VALUE \"${CMAKE_MATCH_1}\", \"${value}\"\n")
        else()
            message(FATAL_ERROR "${source}: cannot read \"${line}\"")
        endif()
    endforeach()
    if(block STREQUAL "" OR translation STREQUAL "")
        message(FATAL_ERROR "${source}: needs a BLOCK and a Translation")
    endif()
    file(WRITE "${output}.new"
        "// Made from res/version.txt by CMake.\n"
        "1 VERSIONINFO\n${fixed}FILESUBTYPE VFT2_UNKNOWN\nBEGIN\n"
        "    BLOCK \"StringFileInfo\"\n    BEGIN\n        BLOCK \"${block}\"\n        BEGIN\n"
        "${strings}        END\n    END\n"
        "    BLOCK \"VarFileInfo\"\n    BEGIN\n        VALUE \"Translation\", ${translation}\n"
        "    END\nEND\n")
    # Rewritten only when it changed, so that the resources are not compiled again for nothing.
    file(COPY_FILE "${output}.new" "${output}" ONLY_IF_DIFFERENT)
    file(REMOVE "${output}.new")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
endfunction()
