# The Windows program and its dialogs, under Wine (included by tests/CMakeLists.txt when
# building for Windows). The UI tests share one Wine prefix, made once in the build directory.
set(wine_prefix ${CMAKE_BINARY_DIR}/wine-ui)
set(win32_tests ${CMAKE_CURRENT_SOURCE_DIR}/ui/win32)

pintool_test(ui_template_tests ui/dialog_template_bytes_test.cpp)
target_link_libraries(ui_template_tests PRIVATE ui_template_bytes)

add_executable(win32_ui_tests
    ui/win32/ui_test_main.cpp
    ui/win32/driver.cpp
    ui/win32/win32_only_test.cpp
    ui/driver_common.cpp
    ui/framework_test.cpp
    ui/change_pin_dlg_test.cpp
    ui/pin_tool_dlg_test.cpp
    ${PROJECT_SOURCE_DIR}/res/pintool.rc)
target_include_directories(win32_ui_tests PRIVATE ${CMAKE_BINARY_DIR}/ui)
target_link_libraries(win32_ui_tests PRIVATE test_support test_seams ui_test_seams ui_dialogs
                                             GTest::gtest)
add_test(NAME Win32Ui.DialogsDrivenThroughTheirControlIds
    COMMAND sh ${win32_tests}/run_under_xvfb.sh ${wine_prefix} $<TARGET_FILE:win32_ui_tests>)
set_tests_properties(Win32Ui.DialogsDrivenThroughTheirControlIds PROPERTIES
    TIMEOUT 300 RESOURCE_LOCK wine_ui FIXTURES_REQUIRED pintool_fixtures)

# The dialogs and message boxes at 100%, 150% and 200% display scale, each in a prefix of its
# own whose LogPixels says so.
add_executable(win32_dpi_tests ui/win32/dpi_test.cpp ${PROJECT_SOURCE_DIR}/res/pintool.rc)
target_include_directories(win32_dpi_tests PRIVATE ${CMAKE_BINARY_DIR}/ui)
target_link_libraries(win32_dpi_tests PRIVATE ui_dialogs ui_test_seams buffer_seams pkcs12_seams
                                              GTest::gtest)
foreach(dpi 96 144 192)
    add_test(NAME Win32Ui.EveryTextWholeAt${dpi}Dpi
        COMMAND sh ${win32_tests}/run_under_xvfb.sh ${wine_prefix}-${dpi}dpi
                $<TARGET_FILE:win32_dpi_tests> ${dpi})
    set_tests_properties(Win32Ui.EveryTextWholeAt${dpi}Dpi PROPERTIES
        TIMEOUT 300 RESOURCE_LOCK wine_ui_${dpi}dpi ENVIRONMENT "PINTOOL_WINE_DPI=${dpi}")
endforeach()

# pintool.exe as the release packs it (but for its symbols, stripped there) holds nothing only
# tests call.
add_test(NAME WindowsProgram.HoldsNoTestSwitch
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/res/check_no_test_switches.sh ${CMAKE_NM}
            $<TARGET_FILE:pintool>
            "$<TARGET_OBJECTS:test_seams>;$<TARGET_OBJECTS:ui_test_seams>"
            "$<TARGET_FILE:pkcs12>;$<TARGET_FILE:buffer>;$<TARGET_FILE:ui_framework>")

add_test(NAME WindowsProgram.OnlySystemDllsAndItsResources
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/res/check_windows_program.sh $<TARGET_FILE:pintool>
            ${PROJECT_SOURCE_DIR})
# Reads pintool.exe's dialogs from beside it for the end-to-end test: focus, fields, messages.
add_executable(window_probe ui/win32/window_probe.cpp)
target_link_options(window_probe PRIVATE -municode)
add_test(NAME WindowsProgram.ChangesAPinEndToEndUnderWine
    COMMAND sh ${win32_tests}/pintool_end_to_end.sh $<TARGET_FILE:pintool> ${wine_prefix}
            $<TARGET_FILE:window_probe>)
set_tests_properties(WindowsProgram.ChangesAPinEndToEndUnderWine PROPERTIES
    TIMEOUT 300 RESOURCE_LOCK wine_ui)
# Under a window manager, in a prefix of its own whose windows it manages.
add_test(NAME WindowsProgram.FocusReturnsToTheMainWindowUnderOpenbox
    COMMAND sh ${win32_tests}/focus_returns_under_openbox.sh $<TARGET_FILE:pintool>
            ${wine_prefix}-managed $<TARGET_FILE:window_probe>)
set_tests_properties(WindowsProgram.FocusReturnsToTheMainWindowUnderOpenbox PROPERTIES
    TIMEOUT 300 RESOURCE_LOCK wine_ui_managed)

# pintool.exe as it is when the system refuses its protections: a message box, and no more.
add_executable(pintool_refusing WIN32 ${PROJECT_SOURCE_DIR}/ui/main.cpp ui/refused_protection.cpp
               ${PROJECT_SOURCE_DIR}/res/pintool.rc)
target_include_directories(pintool_refusing PRIVATE ${CMAKE_BINARY_DIR}/ui)
set_target_properties(pintool_refusing PROPERTIES OUTPUT_NAME pintool
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/refusing)
target_link_libraries(pintool_refusing PRIVATE ui_dialogs ui_seams buffer_seams pkcs12_seams)
add_test(NAME WindowsProgram.SaysWhyItDoesNotStartUnderWine
    COMMAND sh ${win32_tests}/refused_start.sh $<TARGET_FILE:pintool_refusing> ${wine_prefix}
            $<TARGET_FILE:window_probe>)
set_tests_properties(WindowsProgram.SaysWhyItDoesNotStartUnderWine PROPERTIES
    TIMEOUT 300 RESOURCE_LOCK wine_ui)

# The installer: installed, started and removed again under Wine in a prefix of its own, and
# tools/sign-windows on pintool.exe and the installer.
set(release_dir ${CMAKE_BINARY_DIR}/ui/pintool-${PROJECT_VERSION}-windows-x86_64)
set(msi ${CMAKE_BINARY_DIR}/pintool-${PROJECT_VERSION}-windows-x86_64.msi)
set(zip ${CMAKE_BINARY_DIR}/pintool-${PROJECT_VERSION}-windows-x86_64.zip)
# The tests need the installer and the zip built with everything else.
add_custom_target(installer_for_tests ALL)
add_dependencies(installer_for_tests pintool_msi pintool_zip)
find_program(MSIEXTRACT msiextract REQUIRED)
add_test(NAME WindowsRelease.LicencesCompleteWithoutLinuxPaths
    COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/res/check_windows_licences.py ${zip} ${msi}
            ${MSIEXTRACT})
add_test(NAME WindowsInstaller.InstallsStartsAndRemovesEverythingUnderWine
    COMMAND sh ${win32_tests}/installer_under_wine.sh ${msi} ${release_dir}/pintool.exe
            ${PROJECT_VERSION} $<TARGET_FILE:window_probe>)
set_tests_properties(WindowsInstaller.InstallsStartsAndRemovesEverythingUnderWine PROPERTIES
    TIMEOUT 600)
add_test(NAME WindowsInstaller.SignedWithTheCertificateGiven
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/res/sign_windows_test.sh ${release_dir}/pintool.exe
            ${msi} ${PROJECT_SOURCE_DIR})
