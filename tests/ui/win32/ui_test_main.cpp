// Runs the Win32 UI tests with the application object the dialogs expect.

#include <gtest/gtest.h>

#include "ui/framework/win_app.h"
#include "ui/pin_tool_app.h"

int main(int argc, char** argv) {
    const CPinToolApp app;
    AfxInitToolkit();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
