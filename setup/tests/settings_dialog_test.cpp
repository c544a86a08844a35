// The install-time settings dialog: its checks in order, the folder question,
// and what reaches the registry.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <filesystem>
#include <fstream>

#include "platform/registry/registry.h"
#include "setup/registry_file.h"
#include "setup/settings_dialog.h"
#include "setup/tests/setup_fixture.h"

namespace veltris::setup::testing {
namespace {

namespace fs = std::filesystem;

class SettingsDialog : public SetupWorld {
 protected:
  std::string stored(const char* name) {
    std::string value;
    reg::Registry::system().queryString(kParametersKey, name, value);
    return value;
  }
};

TEST_F(SettingsDialog, ChecksInOrderAndFocus) {
  struct Case {
    const char *password, *confirmation, *folder, *message, *focus;
  };
  const Case cases[] = {
      {"", "", "", "Require Password", "tbxPassword"},
      {"abc", "", "", "Require Password Confirmation", "tbxConfirm"},
      {"abc", "abd", "", "Password Confirmation FAILED", "tbxPassword"},
      {"abc", "ABC", "", "Require Data Path", "tbxDirectory"},
  };
  for (const Case& c : cases) {
    prompter_.shown.clear();
    InstallSettingsDialog dialog(nullptr);
    dialog.show();
    dialog.passwordBox()->setText(c.password);
    dialog.confirmBox()->setText(c.confirmation);
    dialog.directoryBox()->setText(c.folder);
    dialog.ok();
    ASSERT_EQ(prompter_.shown.size(), 1u) << c.message;
    EXPECT_EQ(prompter_.shown[0].text, c.message);
    EXPECT_EQ(prompter_.shown[0].title, "VELTRIS Settings");
    EXPECT_EQ(dialog.focusWidget() ? dialog.focusWidget()->objectName() : QString(), c.focus) << c.message;
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(fs::exists(root_ / "etc/veltris/registry.reg")) << "nothing is written before the checks pass";
  }
}

TEST_F(SettingsDialog, OpensWithTheDefaultFolderOnAnEmptyRegistry) {
  InstallSettingsDialog dialog(nullptr);
  EXPECT_EQ(dialog.passwordBox()->text(), "");
  EXPECT_EQ(dialog.directoryBox()->text().toStdString(), (root_ / "var/lib/veltris/VELTRIS History").string() + "/");
  EXPECT_EQ(prompter_.beeps, 1);
}

TEST_F(SettingsDialog, FolderQuestionAndCreation) {
  const fs::path missing = root_ / "var/lib/veltris/new history";
  {
    // No: nothing written, the Directory box has the focus.
    prompter_.answer("Data Path", Answer::No);
    InstallSettingsDialog dialog(nullptr);
    dialog.show();
    dialog.passwordBox()->setText("abc");
    dialog.confirmBox()->setText("abc");
    dialog.directoryBox()->setText(QString::fromStdString(missing.string()));
    dialog.ok();
    EXPECT_TRUE(prompter_.saw(QString("Data Path '%1' does not exist.  Do you wish to create it ?").arg(QString::fromStdString(missing.string()))));
    EXPECT_EQ(dialog.focusWidget(), dialog.directoryBox());
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_EQ(stored("OpenKey"), "");
  }
  {
    // A system folder is refused before anything is asked or made.
    prompter_.reset();
    InstallSettingsDialog dialog(nullptr);
    dialog.passwordBox()->setText("abc");
    dialog.confirmBox()->setText("abc");
    dialog.directoryBox()->setText("/etc/veltris-history");
    dialog.ok();
    ASSERT_EQ(prompter_.shown.size(), 1u);
    EXPECT_TRUE(prompter_.shown[0].text.startsWith("Data Path '/etc/veltris-history' cannot hold the history: "));
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(fs::exists("/etc/veltris-history"));
    EXPECT_EQ(stored("OpenKey"), "");
  }
  {
    // A file where a parent should be: "Create Directory FAILED".
    prompter_.reset();
    std::ofstream(root_ / "a-file") << "x";
    InstallSettingsDialog dialog(nullptr);
    dialog.passwordBox()->setText("abc");
    dialog.confirmBox()->setText("abc");
    dialog.directoryBox()->setText(QString::fromStdString((root_ / "a-file/history").string()));
    dialog.ok();
    EXPECT_TRUE(prompter_.saw("Create Directory FAILED"));
    EXPECT_NE(dialog.result(), QDialog::Accepted);
  }
  {
    // Two levels below an existing folder: made with its parent.
    prompter_.reset();
    InstallSettingsDialog dialog(nullptr);
    dialog.passwordBox()->setText("abc");
    dialog.confirmBox()->setText("abc");
    dialog.directoryBox()->setText(QString::fromStdString((missing / "deeper").string()));
    dialog.ok();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(fs::is_directory(missing / "deeper"));
    fs::remove_all(missing);
  }
  {
    // Yes: made, stored, closed without a message, back in the folder it started in.
    prompter_.reset();
    const QString before = QDir::currentPath();
    InstallSettingsDialog dialog(nullptr);
    dialog.passwordBox()->setText("A-Password-Of-20-Chr");
    dialog.confirmBox()->setText("a-password-of-20-chr");
    dialog.directoryBox()->setText(QString::fromStdString(missing.string()));
    dialog.ok();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(fs::is_directory(missing));
    EXPECT_EQ(stored("OpenKey"), "A-Password-Of-20-Chr") << "the Password box's text, all 20 characters";
    EXPECT_EQ(stored("DataPath"), missing.string());
    EXPECT_EQ(prompter_.shown.size(), 1u) << "only the folder question";
    EXPECT_EQ(QDir::currentPath(), before);
  }
}

TEST_F(SettingsDialog, UnwritableRegistryEndsSetup) {
  fs::create_directories(root_ / "etc/veltris/registry.reg");  // a folder where the file should be
  InstallSettingsDialog dialog(nullptr);
  dialog.passwordBox()->setText("abc");
  dialog.confirmBox()->setText("abc");
  dialog.directoryBox()->setText(QString::fromStdString(root_.string()));
  dialog.ok();
  EXPECT_TRUE(dialog.exitRequested());
  EXPECT_TRUE(prompter_.saw("FAILED to"));
}

}  // namespace
}  // namespace veltris::setup::testing
