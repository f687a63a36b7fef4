#include "app/gui/GuiMain.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/gui/Dialogs.h"
#include "app/gui/MainDialog.h"
#include "orders/TurnEntryDatabase.h"
#include "starmap/DataFolder.h"

namespace lanewright::gui {
namespace {

// The command line's exit code for a usage error: the program cannot be used this way.
constexpr int kExitNoDisplay = 64;

struct GuiArguments {
  std::string dataDir;
  std::vector<std::string> files;
};

// What QApplication left of the command line. Other switches are ignored, like a switch
// that is not a registration request; "--" lets a file name start with '-'.
GuiArguments ParseArguments(const QStringList& arguments) {
  GuiArguments result;
  bool options = true;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const std::string argument = arguments[i].toStdString();
    if (options && argument == "--") {
      options = false;
    } else if (options && argument == "--data-dir" && i + 1 < arguments.size()) {
      result.dataDir = arguments[++i].toStdString();
    } else if (options && argument.rfind("--data-dir=", 0) == 0) {
      result.dataDir = argument.substr(std::string_view("--data-dir=").size());
    } else if (options && !argument.empty() && argument.front() == '-') {
      continue;
    } else {
      result.files.push_back(argument);
    }
  }
  return result;
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace

int RunGui(int argc, char** argv) {
  // Without a display Qt would abort with a core dump; say what is wrong instead.
  if (!HasDisplay()) {
    std::fputs(
        "lanewright: no display for the desktop program (DISPLAY, WAYLAND_DISPLAY and "
        "QT_QPA_PLATFORM are unset); see 'lanewright --help' for the command line\n",
        stderr);
    return kExitNoDisplay;
  }
  QApplication app(argc, argv);
  // QSettings keeps the window's state under these names.
  QApplication::setOrganizationName(QStringLiteral("Lanewright"));
  QApplication::setApplicationName(QStringLiteral("Lanewright"));
  QApplication::setApplicationVersion(QStringLiteral(LANEWRIGHT_VERSION));
  const GuiArguments arguments = ParseArguments(QApplication::arguments());

  QtDialogs dialogs;
  const std::string turnEntryPath = DefaultTurnEntryPath(arguments.dataDir);
  MainDialog window(
      dialogs, [turnEntryPath] { return std::make_unique<TurnEntryDatabase>(turnEntryPath); },
      DataFolder(arguments.dataDir));
  if (!window.Start(arguments.files)) return 0;
  window.show();
  QApplication::exec();
  return 0;
}

}  // namespace lanewright::gui
