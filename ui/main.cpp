#include <cstdio>
#include <cstdlib>

#include "pkcs12/openssl_memory.h"
#include "platform/memory_api.h"
#include "platform/process_api.h"
#include "ui/framework/win_app.h"
#include "ui/pin_tool_app.h"

// The one application object.
CPinToolApp theApp;

int main(int argc, char** argv) {
    // First of all, before anything loads a library: only the system's. Then, before any PIN
    // is typed and before OpenSSL allocates: no other process reads the memory, a crash writes
    // no core, and OpenSSL wipes what it frees. Without all of it the tool does not start.
    if (!LoadLibrariesFromSystemFolderOnly() || !ShutOutOtherProcesses() || !ForbidCoreDumps() ||
        !WipeOpensslMemoryOnRelease()) {
        std::fputs("pintool: cannot protect its memory, not starting\n", stderr);
        return EXIT_FAILURE;
    }
    return AfxWinMain(argc, argv);
}
