#pragma once

namespace lanewright::gui {

// The desktop program: "lanewright [--data-dir DIR] [FILE...]". With files they are
// loaded at once; without, the open dialog asks for them, and cancelling it ends the
// program quietly. Returns the exit code.
int RunGui(int argc, char** argv);

}  // namespace lanewright::gui
