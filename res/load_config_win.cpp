// The image's load configuration. Its one setting that matters here: the libraries pintool.exe
// imports (OpenSSL's CRYPT32.dll among them, which is not one of the system's
// known DLLs) are looked for in System32 only, not first beside the program, where a download
// folder may hold a planted copy. This runs before any code of the program could ask for it.
// The GNU linker does not point the image at this structure; res/point_load_config.py does so
// after linking.

#include <windows.h>

namespace {

constexpr IMAGE_LOAD_CONFIG_DIRECTORY64 LoadConfig() {
    IMAGE_LOAD_CONFIG_DIRECTORY64 config{};
    config.Size = sizeof(config);
    config.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;  // DependentLoadFlags
    return config;
}

}  // namespace

extern "C" {
extern const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used;
[[gnu::used]] const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used = LoadConfig();
}
