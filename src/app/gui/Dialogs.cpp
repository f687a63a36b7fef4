#include "app/gui/Dialogs.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace lanewright::gui {

std::optional<FileChoice> MakeFileChoice(const std::vector<std::string>& paths) {
  if (paths.empty()) return std::nullopt;
  if (paths.size() == 1) return FileChoice{paths.front(), {}};
  FileChoice choice;
  choice.first = QFileInfo(QString::fromStdString(paths.front())).absolutePath().toStdString();
  for (const auto& path : paths)
    choice.names.push_back(QFileInfo(QString::fromStdString(path)).fileName().toStdString());
  return choice;
}

std::optional<FileChoice> QtDialogs::ChooseEmpireFiles(QWidget* parent, const std::string& folder) {
  // Players' files are Jet databases; SQLite files are read as well, whatever they are called.
  const QStringList chosen = QFileDialog::getOpenFileNames(
      parent, QStringLiteral("Open empire Datafile"), QString::fromStdString(folder),
      QStringLiteral("Empire files (*.mdb *.accdb *.db *.sqlite);;All files (*)"));
  std::vector<std::string> paths;
  for (const QString& path : chosen) paths.push_back(QDir::toNativeSeparators(path).toStdString());
  return MakeFileChoice(paths);
}

std::optional<std::string> QtDialogs::ChooseExportTarget(QWidget* parent,
                                                         const std::string& startPath) {
  QFileDialog dialog(parent, QStringLiteral("Export to GraphViz"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // The name is used exactly as typed, and an existing map is replaced without asking.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (!startPath.empty()) {
    dialog.setDirectory(QFileInfo(QString::fromStdString(startPath)).absolutePath());
  }
  dialog.selectFile(QStringLiteral("*.map"));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(files.front()).toStdString();
}

std::optional<std::string> QtDialogs::ChooseSaveFile(QWidget* parent, const QString& title,
                                                     const std::string& startPath,
                                                     const QString& filter) {
  QFileDialog dialog(parent, title, QString::fromStdString(startPath), filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!startPath.empty()) dialog.selectFile(QString::fromStdString(startPath));
  // "(*.png)" in the chosen filter gives "png".
  const auto suffixOf = [](const QString& kind) {
    const qsizetype star = kind.indexOf(QStringLiteral("*."));
    if (star < 0) return QString();
    qsizetype end = star + 2;
    while (end < kind.size() && kind[end].isLetterOrNumber()) ++end;
    return kind.mid(star + 2, end - star - 2);
  };
  dialog.setDefaultSuffix(suffixOf(filter.section(QStringLiteral(";;"), 0, 0)));
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                   [&](const QString& kind) { dialog.setDefaultSuffix(suffixOf(kind)); });
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(files.front()).toStdString();
}

int QtDialogs::Exec(QDialog& dialog) { return dialog.exec(); }

}  // namespace lanewright::gui
