#pragma once
// The editor's window as a program: the application, the reload event, the
// settings loaded from this process's store, the window until it closes.
// Returns the exit status.
namespace vardel {

int run_editor_window(int argc, char** argv);

}  // namespace vardel
