#pragma once
// The tray program from start to end: the start-up checks in their order
// (each failure a "Fatal Error" box and exit status 1; a second copy in
// the same session ends at once with 0), then the icon until "Close Tray
// Program" or a termination signal (0).
namespace vardel {

int run_tray(int argc, char** argv);

}  // namespace vardel
