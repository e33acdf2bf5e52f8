#include "core/outcome.h"
#include "ui/framework/win_app.h"
#include "ui/pin_tool_app.h"
#include "ui/process_protection.h"

// The one application object.
CPinToolApp theApp;

int main(int argc, char** argv) {
    if (!ProtectProcess()) {
        return AfxRefuseToStart(argc, argv,
                                "Das Programm kann PINs und Schlüssel nicht vor anderen Programmen "
                                "schützen und wird deshalb nicht gestartet.",
                                kMessageCaption);
    }
    return AfxWinMain(argc, argv);
}
