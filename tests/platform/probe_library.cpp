// A library that is no system's, for the tests of where libraries are loaded from.

extern "C" __declspec(dllexport) int PintoolProbe() {
    return 42;
}
