#include "bridge/path_picker.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

#include "app/diagnostics.h"
#include "app/paths.h"
#include "app/platform.h"
#include "runs/run_log.h"

namespace {

QString DialogSettingsPath() {
  return QString::fromStdString(state_folder(shell_platform::user_state_home()) + "dialogs.ini");
}

QStringList to_qt(const std::vector<std::string>& texts) {
  QStringList list;
  for (const std::string& text : texts) list << QString::fromStdString(text);
  return list;
}

}  // namespace

void PickPath(PathPick pick, const PathDialog& look, const std::function<void(const QString&)>& done) {
  diagnostic(pick == PathPick::Folder ? "dialog folder" : pick == PathPick::SaveFile ? "dialog save" : "dialog file");
  const QString kind = QString::fromStdString(look.kind);
  QSettings settings(DialogSettingsPath(), QSettings::IniFormat);
  auto* dialog = new QFileDialog(QApplication::activeWindow(), QString::fromStdString(look.title),
                                 settings.value("last-folder/" + kind, QDir::homePath()).toString());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(pick == PathPick::Folder     ? QFileDialog::Directory
                      : pick == PathPick::SaveFile ? QFileDialog::AnyFile
                                                   : QFileDialog::ExistingFile);
  if (pick == PathPick::Folder) dialog->setOption(QFileDialog::ShowDirsOnly);
  if (pick == PathPick::SaveFile) dialog->setAcceptMode(QFileDialog::AcceptSave);
  if (!look.default_suffix.empty()) dialog->setDefaultSuffix(QString::fromStdString(look.default_suffix));
  if (!look.suggested_name.empty()) dialog->selectFile(QString::fromStdString(look.suggested_name));
  if (!look.filters.empty()) dialog->setNameFilters(to_qt(look.filters));
  QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done, kind, pick](int result) {
    const QStringList chosen = dialog->selectedFiles();
    const QString path = result == QDialog::Accepted && !chosen.isEmpty() ? chosen.first() : QString();
    // The last folders are kept in the private state folder, never through a link.
    if (!path.isEmpty() && MakeStateFolder())
      QSettings(DialogSettingsPath(), QSettings::IniFormat)
          .setValue("last-folder/" + kind, pick == PathPick::Folder ? path : QFileInfo(path).absolutePath());
    done(path);
  });
  dialog->open();
}
