#pragma once
// The window system's part of waiting for a worker thread.

#include <memory>

#include "ui/framework/wnd.h"

class CBusyWait {
public:
    // From now on until it is destroyed, no window takes input.
    explicit CBusyWait(CWnd& window);
    CBusyWait(const CBusyWait&) = delete;
    CBusyWait& operator=(const CBusyWait&) = delete;
    ~CBusyWait();

    // Keeps the windows painting until Finish was called; after half a second the window shows
    // a busy indication.
    void Run();
    // From any thread: the work is done.
    void Finish();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
