// The settings dialog: its checks in order with their focus, the folder
// question, and the real settings helper writing a private registry.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <QLabel>
#include <QTest>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>

#include "tray/settings_dialog.h"
#include "tray/settings_store.h"

namespace veltris::tray {
namespace {

namespace fs = std::filesystem;

// A store that answers from memory and records the writes.
struct MemoryStore final : SettingsStore {
  void read(QObject*, std::function<void(const StoredSettings&)> done) override {
    StoredSettings s;
    s.read = true;
    s.keyKnown = !keyHidden;
    s.password = keyHidden ? QString() : storedPassword;
    s.keyStored = !storedPassword.isEmpty();
    s.dataPath = storedPath;
    done(s);
  }
  Folder checkFolder(const QString& path, QString&) override {
    checked << path;
    return folderExists ? Folder::Exists : Folder::Missing;
  }
  bool createFolder(const QString& path, QString&) override {
    created << path;
    return true;
  }
  Write write(const std::optional<QString>& dataPath, const std::optional<QString>& password, QString&) override {
    written << dataPath.value_or("-") + "|" + password.value_or("-");
    return Write::Done;
  }
  QString storedPassword, storedPath;
  bool keyHidden = false;  // the user may not read the key
  bool folderExists = true;
  QStringList checked, created, written;
};

struct Messages {
  QStringList shown;
  QMessageBox::StandardButton answer = QMessageBox::Yes;
  SettingsDialog::MessageHook hook() {
    return [this](QMessageBox::Icon, const QString& text, QMessageBox::StandardButtons) {
      shown << text;
      return answer;
    };
  }
};

const QString kSuccess =
    "Settings successfully modified.\r\n\r\nThe Password setting will take effect immediately.\r\n"
    "The History Directory setting will take effect after next re-boot.";

TEST(SettingsChecks, InOrderWithTheirFocus) {
  struct Case {
    const char* password;
    const char* confirm;
    const char* folder;
    const char* message;
    const char* focus;
  };
  const Case cases[] = {
      {"", "", "", "Require Password", "tbxPassword"},
      {"secret", "", "", "Require Password Confirmation", "tbxConfirm"},
      {"secret", "secreT2", "", "Password Confirmation FAILED", "tbxPassword"},
      {"secret", "SECRET", "", "Require Data Path", "tbxDirectory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    MemoryStore store;
    Messages messages;
    QPointer<SettingsDialog> dialog = new SettingsDialog(store);
    dialog->setMessageHook(messages.hook());
    dialog->show();
    dialog->passwordBox()->setText(c.password);
    dialog->confirmBox()->setText(c.confirm);
    dialog->folderBox()->setText(c.folder);
    dialog->accept();
    EXPECT_EQ(messages.shown, QStringList{c.message});
    ASSERT_NE(dialog->focusWidget(), nullptr);
    EXPECT_EQ(dialog->focusWidget()->objectName(), c.focus);
    EXPECT_TRUE(store.written.isEmpty());
    EXPECT_TRUE(dialog->isVisible());
    delete dialog;
  }
}

TEST(SettingsChecks, ConfirmationIgnoresCaseAndThePasswordBoxIsStored) {
  MemoryStore store;
  Messages messages;
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  dialog->setMessageHook(messages.hook());
  QString key;
  QObject::connect(dialog, &SettingsDialog::passwordChanged, [&](const QString& k) { key = k; });
  dialog->show();
  dialog->passwordBox()->setText("MixedCase20CharsLong");
  dialog->confirmBox()->setText("mixedcase20charslong");
  dialog->folderBox()->setText("/srv/history");
  dialog->accept();
  EXPECT_EQ(store.written, QStringList{"/srv/history|MixedCase20CharsLong"});
  EXPECT_EQ(key, "MixedCase20CharsLong") << "the stored text; the agent compares the first 16";
  EXPECT_EQ(messages.shown, QStringList{kSuccess});
  EXPECT_FALSE(dialog && dialog->isVisible());
  delete dialog;
}

TEST(SettingsChecks, MissingFolderAnsweredNoWritesNothing) {
  MemoryStore store;
  store.folderExists = false;
  store.storedPassword = "secret";
  store.storedPath = "/srv/old";
  Messages messages;
  messages.answer = QMessageBox::No;
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  dialog->setMessageHook(messages.hook());
  dialog->show();
  EXPECT_EQ(dialog->confirmBox()->text(), "secret");
  dialog->folderBox()->setText("/srv/none");
  dialog->accept();
  EXPECT_EQ(messages.shown, QStringList{"Data Path '/srv/none' does not exist.  Do you wish to create it ?"});
  EXPECT_TRUE(store.created.isEmpty());
  EXPECT_TRUE(store.written.isEmpty());
  EXPECT_EQ(dialog->focusWidget()->objectName(), "tbxDirectory");
  delete dialog;
}

// Only what the user changed is written; a key the user may not read is kept
// while its boxes stay empty, and is never shown.
TEST(SettingsChecks, OnlyChangedFieldsAreWritten) {
  struct Case {
    const char* name;
    const char* storedPassword;
    const char* storedPath;
    bool keyHidden;
    const char* typedPassword;  // nullptr: the boxes are left as they opened
    const char* typedFolder;    // nullptr: left as it opened
    QStringList written;
  };
  const QString defaultFolder = defaultDataPath();
  const Case cases[] = {
      {"nothing changed", "secret", "/srv/h", false, nullptr, nullptr, {}},
      {"folder only", "secret", "/srv/h", false, nullptr, "/srv/new", {"/srv/new|-"}},
      {"password only", "secret", "/srv/h", false, "other", nullptr, {"-|other"}},
      {"hidden key kept, folder changed", "secret", "/srv/h", true, nullptr, "/srv/new", {"/srv/new|-"}},
      {"hidden key kept, nothing changed", "secret", "/srv/h", true, nullptr, nullptr, {}},
      {"hidden key replaced", "secret", "/srv/h", true, "other", nullptr, {"-|other"}},
      {"empty registry: both", "", "", false, "pw", nullptr, {defaultFolder + "|pw"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStore store;
    store.storedPassword = c.storedPassword;
    store.storedPath = c.storedPath;
    store.keyHidden = c.keyHidden;
    Messages messages;
    QPointer<SettingsDialog> dialog = new SettingsDialog(store);
    dialog->setMessageHook(messages.hook());
    dialog->show();
    EXPECT_FALSE(dialog->busy());
    if (c.keyHidden) EXPECT_EQ(dialog->passwordBox()->text(), "") << "a hidden key is never shown";
    if (c.typedPassword) {
      dialog->passwordBox()->setText(c.typedPassword);
      dialog->confirmBox()->setText(c.typedPassword);
    }
    if (c.typedFolder) dialog->folderBox()->setText(c.typedFolder);
    dialog->accept();
    EXPECT_EQ(store.written, c.written);
    EXPECT_EQ(messages.shown, c.written.isEmpty() ? QStringList{} : QStringList{kSuccess});
    EXPECT_FALSE(dialog && dialog->isVisible());
    delete dialog;
  }
}

// The real helper, run directly on a private system root.
class SettingsHelper : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    saved = qgetenv("VELTRIS_ROOT");
    setenv("VELTRIS_ROOT", root.path().toLocal8Bit().constData(), 1);
    fs::create_directories(fs::path(root.path().toStdString()) / "etc/veltris");
  }
  void TearDown() override { qputenv("VELTRIS_ROOT", saved); }
  std::string registryText() {
    std::ifstream in(fs::path(root.path().toStdString()) / "etc/veltris/registry.reg");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  QTemporaryDir root;
  QByteArray saved;
  HelperSettingsStore store{SETTINGS_HELPER};
  Messages messages;
};

TEST_F(SettingsHelper, EmptyRegistryOpensWithTheDefaultFolder) {
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  EXPECT_EQ(dialog->passwordBox()->text(), "");
  EXPECT_EQ(dialog->folderBox()->text(), root.path() + "/var/lib/veltris/VELTRIS History/");
  delete dialog;
}

TEST_F(SettingsHelper, NewFolderOneLevelDownIsCreatedAndBothValuesWritten) {
  const QString folder = root.path() + "/History";
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  dialog->setMessageHook(messages.hook());
  dialog->show();
  dialog->passwordBox()->setText("Secret");
  dialog->confirmBox()->setText("secret");
  dialog->folderBox()->setText(folder);
  dialog->accept();
  EXPECT_EQ(messages.shown,
            (QStringList{"Data Path '" + folder + "' does not exist.  Do you wish to create it ?", kSuccess}));
  EXPECT_TRUE(fs::is_directory(folder.toStdString()));
  const std::string text = registryText();
  EXPECT_NE(text.find("\"OpenKey\"=\"Secret\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"DataPath\"=\"" + folder.toStdString() + "\""), std::string::npos) << text;
  StoredSettings stored;
  store.read(nullptr, [&](const StoredSettings& s) { stored = s; });
  EXPECT_EQ(stored.password, "Secret");
  EXPECT_EQ(stored.dataPath, folder);
  delete dialog;
}

TEST_F(SettingsHelper, FolderTwoLevelsDownIsCreatedWithItsParents) {
  const QString folder = root.path() + "/a/b";
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  dialog->setMessageHook(messages.hook());
  dialog->show();
  dialog->passwordBox()->setText("secret");
  dialog->confirmBox()->setText("secret");
  dialog->folderBox()->setText(folder);
  dialog->accept();
  EXPECT_EQ(messages.shown,
            (QStringList{"Data Path '" + folder + "' does not exist.  Do you wish to create it ?", kSuccess}));
  EXPECT_TRUE(fs::is_directory(folder.toStdString()));
  EXPECT_NE(registryText().find("\"DataPath\"=\"" + folder.toStdString() + "\""), std::string::npos);
  delete dialog;
}

TEST_F(SettingsHelper, SystemFolderIsRefusedAndNothingIsWritten) {
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  dialog->setMessageHook(messages.hook());
  dialog->show();
  dialog->passwordBox()->setText("secret");
  dialog->confirmBox()->setText("secret");
  dialog->folderBox()->setText("/etc");
  dialog->accept();
  EXPECT_EQ(registryText().find("OpenKey"), std::string::npos);
  EXPECT_EQ(dialog->focusWidget()->objectName(), "tbxDirectory");
  EXPECT_TRUE(dialog->isVisible());
  delete dialog;
}

// pkexec's own exit codes are named; its message and the helper's are shown as they are.
TEST(SettingsHelperRun, PkexecFailuresShownAsTheyAre) {
  struct Case {
    int code;
    const char* standardError;
    const char* shown;
  };
  const Case cases[] = {
      {126, "", "pkexec: the authentication was dismissed (exit 126)"},
      {127, "Cannot run program /usr/libexec/veltris/veltris-settings-helper: No such file or directory",
       "pkexec: not authorised, or the settings helper could not be run (exit 127)\n"
       "Cannot run program /usr/libexec/veltris/veltris-settings-helper: No such file or directory"},
      {7, "veltris-settings-helper: '/etc' cannot hold the history: a system folder",
       "veltris-settings-helper: '/etc' cannot hold the history: a system folder"},
  };
  for (const Case& c : cases) EXPECT_EQ(pkexecFailure(c.code, c.standardError), c.shown) << c.code;
}

// Run by tray_lockout_xvfb_test.sh as a user who may not read the registry, with
// a stand-in pkexec: the dialog shows the stored folder and that a key is set.
TEST(SettingsAsUser, ShowsTheStoredFolderThroughTheHelper) {
  const QByteArray expected = qgetenv("VELTRIS_TEST_STORED_FOLDER");
  if (expected.isEmpty()) GTEST_SKIP() << "run by tray_lockout_xvfb_test.sh";
  const QByteArray saved = qgetenv("VELTRIS_ROOT");
  qputenv("VELTRIS_ROOT", qgetenv("VELTRIS_TEST_ROOT"));
  HelperSettingsStore store(SETTINGS_HELPER);
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  dialog->show();
  for (int i = 0; i < 200 && dialog->busy(); ++i) QTest::qWait(100);
  ASSERT_FALSE(dialog->busy());
  EXPECT_EQ(dialog->folderBox()->text(), QString::fromLocal8Bit(expected));
  EXPECT_EQ(dialog->passwordBox()->text(), "") << "the key is never shown";
  EXPECT_EQ(dialog->noteLabel()->text(), "A password is set. Leave the boxes empty to keep it.");
  delete dialog;
  qputenv("VELTRIS_ROOT", saved);
}

}  // namespace
}  // namespace veltris::tray
