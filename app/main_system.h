// What the start of the program asks of the system, one file per system: main_posix.cpp and
// main_windows.cpp.
#pragma once

// A Windows program without a console window of its own writes nowhere unless its output is
// redirected. Started from a console, its help and its one line of error go to that console.
// Elsewhere the program always has its standard streams: nothing to do.
void UseParentConsole();

// The libraries under the toolkit may write to stderr themselves while it connects (libwayland
// that XDG_RUNTIME_DIR is not set, before Qt says anything): that is held in a file meanwhile.
class HeldStderr {
public:
    void Hold();
    // Puts stderr back, and what was held in it there too when it is to be seen.
    void Release(bool show);

private:
    int real_ = -1;
    int held_ = -1;
};
