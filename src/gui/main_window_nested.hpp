#pragma once
// The main window's count of its nested event loops, shared by the files of TFoMain.

#include "gui/main_window.hpp"

namespace sejfko {

// Counts the nested event loops the window runs (dialogs, the worker's pause) and carries out
// a close that was asked for meanwhile once the last one has ended.
class TFoMain::TNestedGuard {
public:
    explicit TNestedGuard(TFoMain& window) : FWindow(window) { ++FWindow.FNestedDepth; }
    ~TNestedGuard() { FWindow.LeaveNested(); }
    TNestedGuard(const TNestedGuard&) = delete;
    TNestedGuard& operator=(const TNestedGuard&) = delete;

private:
    TFoMain& FWindow;
};

}  // namespace sejfko
