# Release files that are byte for byte the same wherever and whenever they are built, so that
# anyone can check a download against the source (tools/release turns this on). The folders of
# the source and of the build leave the debugging information and every __FILE__; pintool.exe
# carries no link time. Off for everyday builds: a debugger finds the sources by those folders.
option(PINTOOL_REPRODUCIBLE "Build release files that do not depend on folder or time" OFF)

# The time the packers write into the release files: SOURCE_DATE_EPOCH when it is set (as
# tools/release sets it), otherwise the last commit's, as tools/release would set it.
set(PINTOOL_SOURCE_DATE_EPOCH 0)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(PINTOOL_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
    find_program(GIT git)
    if(GIT)
        execute_process(COMMAND ${GIT} log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
            RESULT_VARIABLE git_failed)
        if(NOT git_failed AND commit_time MATCHES "^[0-9]+$")
            set(PINTOOL_SOURCE_DATE_EPOCH ${commit_time})
        endif()
    endif()
endif()

if(PINTOOL_REPRODUCIBLE)
    target_compile_options(pintool_options INTERFACE
        -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
        -ffile-prefix-map=${PROJECT_BINARY_DIR}=./build)
endif()
if(WIN32)
    # Stated always: a PE header's link time only tells when, and makes every build differ.
    target_link_options(pintool_options INTERFACE -Wl,--no-insert-timestamp)
endif()
