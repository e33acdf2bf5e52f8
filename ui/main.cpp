#include "ui/framework/win_app.h"
#include "ui/pin_tool_app.h"

// The one application object.
CPinToolApp theApp;

int main(int argc, char** argv) {
    return AfxWinMain(argc, argv);
}
