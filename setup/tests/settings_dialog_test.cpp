#include "setup/tests/settings_dialog_test.h"

#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "platform/registry/registry.h"
#include "setup/registry_file.h"
#include "setup/settings_dialog.h"

Q_DECLARE_METATYPE(veltris::desktop::Answer)

namespace veltris::setup::testing {
namespace {

namespace fs = std::filesystem;

QString stored(const char* name) {
  std::string value;
  reg::Registry::system().queryString(kParametersKey, name, value);
  return QString::fromStdString(value);
}

void type(InstallSettingsDialog& dialog, const QString& password, const QString& confirmation, const QString& folder) {
  dialog.passwordBox()->setText(password);
  dialog.confirmBox()->setText(confirmation);
  dialog.directoryBox()->setText(folder);
}

}  // namespace

void SettingsDialogTest::init() { world_ = std::make_unique<SetupWorld>(); }

void SettingsDialogTest::cleanup() { world_.reset(); }

void SettingsDialogTest::checksInOrderAndFocus_data() {
  QTest::addColumn<QString>("password");
  QTest::addColumn<QString>("confirmation");
  QTest::addColumn<QString>("folder");
  QTest::addColumn<QString>("message");
  QTest::addColumn<QString>("focus");
  QTest::newRow("all empty") << "" << "" << "" << "Require Password" << "tbxPassword";
  QTest::newRow("no confirmation") << "abc" << "" << "" << "Require Password Confirmation" << "tbxConfirm";
  QTest::newRow("confirmation differs") << "abc" << "abd" << "" << "Password Confirmation FAILED" << "tbxPassword";
  QTest::newRow("no folder") << "abc" << "ABC" << "" << "Require Data Path" << "tbxDirectory";
}

void SettingsDialogTest::checksInOrderAndFocus() {
  QFETCH(QString, password);
  QFETCH(QString, confirmation);
  QFETCH(QString, folder);
  QFETCH(QString, message);
  QFETCH(QString, focus);
  SetupWorld& w = *world_;
  InstallSettingsDialog dialog(nullptr);
  dialog.show();
  type(dialog, password, confirmation, folder);
  dialog.ok();
  QCOMPARE(w.prompter_.shown.size(), 1u);
  QCOMPARE(w.prompter_.shown[0].text, message);
  QCOMPARE(w.prompter_.shown[0].title, "VELTRIS Settings");
  QCOMPARE(dialog.focusWidget() ? dialog.focusWidget()->objectName() : QString(), focus);
  QVERIFY(dialog.result() != QDialog::Accepted);
  QVERIFY2(!fs::exists(w.root_ / "etc/veltris/registry.reg"), "nothing is written before the checks pass");
}

void SettingsDialogTest::opensWithTheDefaultFolderOnAnEmptyRegistry() {
  SetupWorld& w = *world_;
  InstallSettingsDialog dialog(nullptr);
  QCOMPARE(dialog.passwordBox()->text(), "");
  QCOMPARE(dialog.directoryBox()->text(), QString::fromStdString((w.root_ / "var/lib/veltris/VELTRIS History").string() + "/"));
  QCOMPARE(w.prompter_.beeps, 1);
}

// The folder typed, relative to the root unless absolute, and what becomes of it.
void SettingsDialogTest::folderQuestionAndCreation_data() {
  QTest::addColumn<QString>("folder");
  QTest::addColumn<Answer>("answer");   // to the question whether to create it
  QTest::addColumn<QString>("message");  // the one box shown
  QTest::addColumn<bool>("accepted");
  QTest::addColumn<bool>("made");
  QTest::addColumn<int>("boxes");
  QTest::newRow("No: nothing made, the Directory box has the focus")
      << "var/lib/veltris/new history" << Answer::No << "Data Path '%1' does not exist.  Do you wish to create it ?"
      << false << false << 1;
  QTest::newRow("a system folder is refused before anything is asked")
      << "/etc/veltris-history" << Answer::Yes << "Data Path '/etc/veltris-history' cannot hold the history: " << false
      << false << 1;
  QTest::newRow("a file where a parent should be") << "a-file/history" << Answer::Yes << "Create Directory FAILED"
                                                   << false << false << 2;
  QTest::newRow("two levels below an existing folder: made with its parent")
      << "var/lib/veltris/new history/deeper" << Answer::Yes << "Data Path '%1' does not exist." << true << true << 1;
}

void SettingsDialogTest::folderQuestionAndCreation() {
  QFETCH(QString, folder);
  QFETCH(Answer, answer);
  QFETCH(QString, message);
  QFETCH(bool, accepted);
  QFETCH(bool, made);
  QFETCH(int, boxes);
  SetupWorld& w = *world_;
  std::ofstream(w.root_ / "a-file") << "x";
  const QString path = folder.startsWith('/') ? folder : QString::fromStdString((w.root_ / folder.toStdString()).string());
  w.prompter_.answer("Data Path", answer);
  InstallSettingsDialog dialog(nullptr);
  dialog.show();
  type(dialog, "abc", "abc", path);
  dialog.ok();
  QVERIFY2(w.prompter_.saw(message.contains("%1") ? message.arg(path) : message), qPrintable(message));
  QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
  QCOMPARE(fs::is_directory(path.toStdString()), made);
  QCOMPARE(int(w.prompter_.shown.size()), boxes);
  if (!accepted) {
    QCOMPARE(stored("OpenKey"), "");
    if (answer == Answer::No) QCOMPARE(dialog.focusWidget(), dialog.directoryBox());
  }
}

// Yes: made, stored, closed without a message, back in the folder it started in.
void SettingsDialogTest::acceptedSettingsAreStoredAsTyped() {
  SetupWorld& w = *world_;
  const fs::path missing = w.root_ / "var/lib/veltris/new history";
  const QString before = QDir::currentPath();
  InstallSettingsDialog dialog(nullptr);
  type(dialog, "A-Password-Of-20-Chr", "a-password-of-20-chr", QString::fromStdString(missing.string()));
  dialog.ok();
  QCOMPARE(dialog.result(), QDialog::Accepted);
  QVERIFY(fs::is_directory(missing));
  QCOMPARE(stored("OpenKey"), "A-Password-Of-20-Chr");  // the Password box's text, all 20 characters
  QCOMPARE(stored("DataPath"), QString::fromStdString(missing.string()));
  QCOMPARE(w.prompter_.shown.size(), 1u);  // only the folder question
  QCOMPARE(QDir::currentPath(), before);
}

void SettingsDialogTest::unwritableRegistryEndsSetup() {
  SetupWorld& w = *world_;
  fs::create_directories(w.root_ / "etc/veltris/registry.reg");  // a folder where the file should be
  InstallSettingsDialog dialog(nullptr);
  type(dialog, "abc", "abc", QString::fromStdString(w.root_.string()));
  dialog.ok();
  QVERIFY(dialog.exitRequested());
  QVERIFY(w.prompter_.saw("FAILED to"));
}

}  // namespace veltris::setup::testing
