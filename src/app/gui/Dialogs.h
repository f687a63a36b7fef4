#pragma once

#include <optional>
#include <string>
#include <vector>

#include "starmap/LoadEmpireDatabase.h"

class QDialog;
class QString;
class QWidget;

namespace lanewright::gui {

// Everything through which the main window waits for the user: the two file dialogs and
// the modal windows it opens. The program uses QtDialogs; tests answer in code, so that
// nothing blocks.
class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // The open dialog for empire files, starting in folder. Nothing when cancelled.
  virtual std::optional<FileChoice> ChooseEmpireFiles(QWidget* parent,
                                                      const std::string& folder) = 0;

  // The save dialog of the map export; startPath is the last target (empty the first time).
  // Nothing when cancelled.
  virtual std::optional<std::string> ChooseExportTarget(QWidget* parent,
                                                        const std::string& startPath) = 0;

  // A save dialog for a file of a kind filter names ("PNG image (*.png);;SVG image (*.svg)"),
  // starting at startPath (empty: the current folder). A name typed without a suffix gets
  // the chosen kind's. Nothing when cancelled.
  virtual std::optional<std::string> ChooseSaveFile(QWidget* parent, const QString& title,
                                                    const std::string& startPath,
                                                    const QString& filter) = 0;

  // Runs dialog modally and returns its result code.
  virtual int Exec(QDialog& dialog) = 0;
};

class QtDialogs final : public Dialogs {
 public:
  std::optional<FileChoice> ChooseEmpireFiles(QWidget* parent, const std::string& folder) override;
  std::optional<std::string> ChooseExportTarget(QWidget* parent,
                                                const std::string& startPath) override;
  std::optional<std::string> ChooseSaveFile(QWidget* parent, const QString& title,
                                            const std::string& startPath,
                                            const QString& filter) override;
  int Exec(QDialog& dialog) override;
};

// Turns the paths a file dialog confirmed into the choice the load expects: one path as
// it is; several files of one folder as that folder and their names. Nothing for no paths.
std::optional<FileChoice> MakeFileChoice(const std::vector<std::string>& paths);

}  // namespace lanewright::gui
