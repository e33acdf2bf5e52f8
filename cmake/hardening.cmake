# The hardening every target of the tool is built with, on the options target: on Linux what
# Debian builds a package with (dpkg-buildflags) and a little more, on Windows what MinGW-w64
# offers of it. docs/hardening.md says what each flag is for and how the tests check it.

if(WIN32)
    # Stack canaries, and fortified calls up to level 2 (as far as MinGW-w64's headers go; like
    # glibc's they need optimisation). __stack_chk_fail, the guard and the checking functions
    # come from GCC's libssp, linked in like the rest of the runtime (-static), so pintool.exe
    # imports no DLL for them. The driver adds libssp only when the flag is on the link line too.
    target_compile_options(pintool_options INTERFACE -fstack-protector-strong
        $<$<AND:$<COMPILE_LANGUAGE:CXX>,$<NOT:$<CONFIG:Debug>>>:-D_FORTIFY_SOURCE=2>)
    target_link_options(pintool_options INTERFACE -fstack-protector-strong
        # Address space layout randomisation with 64-bit addresses, and no code run from data
        # pages. MinGW's linker sets them anyway; stated so that no change of default drops them.
        -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat)
    return()
endif()

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)

target_compile_options(pintool_options INTERFACE
    -fstack-protector-strong -fstack-clash-protection -Wformat -Werror=format-security)
# Bounds checks of the standard library's containers and strings (operator[], front(), ...).
target_compile_definitions(pintool_options INTERFACE _GLIBCXX_ASSERTIONS)
# Fortified libc calls need optimisation: at -O0 glibc warns and does nothing, which -Werror
# turns into an error; the sanitizers check those calls themselves. Level 3 also checks sizes
# known only at run time.
if(NOT PINTOOL_SANITIZE AND NOT PINTOOL_THREAD_SANITIZE AND NOT PINTOOL_FUZZ)
    target_compile_options(pintool_options INTERFACE
        $<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=3>)
endif()
# Control-flow protection (endbr64 landing pads, shadow stack). The linker marks the program
# with both only when every object has the note; Debian 12's start-up files have none, so the
# marks are asked for.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    target_compile_options(pintool_options INTERFACE -fcf-protection)
    target_link_options(pintool_options INTERFACE -Wl,-z,ibt -Wl,-z,shstk)
endif()
# Relocations read-only after start-up, and every symbol resolved at start-up. The latter also
# matters for the secrets: the lazy resolver saves the vector registers on the stack at the
# first call of a function, below any region the tool wipes, and they may hold key bytes then.
target_link_options(pintool_options INTERFACE -Wl,-z,relro -Wl,-z,now)
