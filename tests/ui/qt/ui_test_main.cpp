// Runs the UI tests headless on the offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>

#include "ui/framework/win_app.h"
#include "ui/pin_tool_app.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const CPinToolApp app;  // the application object the dialogs expect
    QApplication application(argc, argv);
    AfxInitToolkit();  // as the program's entry does
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
