#pragma once
// What the tests do with the system on Windows: nothing beyond files. Programs of the build
// machine (openssl, the fixture script) run on its side, before and after the tests under Wine.
