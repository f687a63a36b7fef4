#include "app/gui/GuiMain.h"

int main(int argc, char** argv) { return lanewright::gui::RunGui(argc, argv); }
