// The settings dialog on the shared settings form: its checks in order with
// their focus, the folder question, only changed fields written, the store's
// answers awaited with the boxes disabled, and the real settings helper
// writing a private registry.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "desktop/testing/scripted_prompter.h"
#include "tray/settings_dialog.h"
#include "tray/settings_store.h"

using namespace veltris;
using namespace veltris::tray;
using desktop::Answer;
using desktop::test::ScriptedPrompter;
using Form = desktop::AgentSettingsForm;

namespace {

namespace fs = std::filesystem;

// A store that answers from memory and records the writes. With `deferred`
// its answers wait until answerAll(), as a helper run through pkexec does.
struct MemoryStore final : SettingsStore {
  void read(QObject*, std::function<void(const StoredSettings&)> done) override {
    StoredSettings s;
    s.read = !readFails;
    if (readFails) {
      s.error = QStringLiteral("pkexec: the authentication was dismissed (exit 126)");
      later([done, s] { done(s); });
      return;
    }
    s.keyKnown = !keyHidden;
    s.password = keyHidden ? QString() : storedPassword;
    s.keyStored = !storedPassword.isEmpty();
    s.dataPath = storedPath;
    later([done, s] { done(s); });
  }
  void checkFolder(const QString& path, QObject*, std::function<void(Folder, const QString&)> done) override {
    checked << path;
    later([this, done] { done(folderExists ? Folder::Exists : Folder::Missing, QString()); });
  }
  void createFolder(const QString& path, QObject*, std::function<void(bool, const QString&)> done) override {
    created << path;
    later([done] { done(true, QString()); });
  }
  void write(const std::optional<QString>& dataPath, const std::optional<QString>& password, QObject*,
             std::function<void(Write, const QString&)> done) override {
    written << dataPath.value_or(QStringLiteral("-")) + QLatin1Char('|') + password.value_or(QStringLiteral("-"));
    later([this, done] { done(writeResult, writeError); });
  }
  void later(std::function<void()> answer) {
    if (deferred) {
      pending.push_back(std::move(answer));
    } else {
      answer();
    }
  }
  // Answers what is asked now; what those answers ask waits for the next call.
  void answerAll() {
    std::vector<std::function<void()>> now;
    now.swap(pending);
    for (auto& answer : now) answer();
  }
  QString storedPassword, storedPath;
  bool keyHidden = false;  // the user may not read the key
  bool readFails = false;  // nothing could be read (the helper was refused)
  bool folderExists = true;
  bool deferred = false;
  Write writeResult = Write::Done;
  QString writeError;
  std::vector<std::function<void()>> pending;
  QStringList checked, created, written;
};

const QString kSuccess = QStringLiteral(
    "Settings successfully modified.\r\n\r\nThe Password setting will take effect immediately.\r\n"
    "The History Directory setting will take effect after next re-boot.");

QStringList texts(const ScriptedPrompter& prompter) {
  QStringList out;
  for (const desktop::Message& m : prompter.shown) out << m.text;
  return out;
}

// The helper run directly on a private system root.
struct HelperRoot {
  HelperRoot() {
    saved = qgetenv("VELTRIS_ROOT");
    qputenv("VELTRIS_ROOT", root.path().toLocal8Bit());
    fs::create_directories(fs::path(root.path().toStdString()) / "etc/veltris");
  }
  ~HelperRoot() { qputenv("VELTRIS_ROOT", saved); }
  std::string registryText() const {
    std::ifstream in(fs::path(root.path().toStdString()) / "etc/veltris/registry.reg");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  QTemporaryDir root;
  QByteArray saved;
  HelperSettingsStore store{QStringLiteral(SETTINGS_HELPER)};
};

void type(SettingsDialog& d, const QString& password, const QString& confirm, const QString& folder) {
  d.passwordBox()->setText(password);
  d.confirmBox()->setText(confirm);
  d.folderBox()->setText(folder);
}

}  // namespace

class SettingsTest : public QObject {
  Q_OBJECT
 private slots:
  void checksInOrderWithTheirFocus_data();
  void checksInOrderWithTheirFocus();
  void confirmationIgnoresCaseAndThePasswordBoxIsStored();
  void missingFolderAnsweredNoWritesNothing();
  void onlyChangedFieldsAreWritten_data();
  void onlyChangedFieldsAreWritten();
  void boxesWaitForTheStoreAndFailuresKeepTheDialog_data();
  void boxesWaitForTheStoreAndFailuresKeepTheDialog();
  void helperEmptyRegistryOpensWithTheDefaultFolder();
  void helperCreatesAMissingFolderWithItsParentsAndWritesBoth_data();
  void helperCreatesAMissingFolderWithItsParentsAndWritesBoth();
  void helperSystemFolderIsRefusedAndNothingIsWritten();
  void pkexecFailuresShownAsTheyAre_data();
  void pkexecFailuresShownAsTheyAre();
  void settingsAsUserShowsTheStoredFolderThroughTheHelper();
};

void SettingsTest::checksInOrderWithTheirFocus_data() {
  QTest::addColumn<QString>("password");
  QTest::addColumn<QString>("confirm");
  QTest::addColumn<QString>("folder");
  QTest::addColumn<QString>("message");
  QTest::addColumn<QString>("focus");
  QTest::newRow("all empty") << QString() << QString() << QString() << QStringLiteral("Require Password")
                             << Form::fieldName(Form::Field::Password);
  QTest::newRow("no confirmation") << QStringLiteral("secret") << QString() << QString()
                                   << QStringLiteral("Require Password Confirmation")
                                   << Form::fieldName(Form::Field::Confirmation);
  QTest::newRow("confirmation differs") << QStringLiteral("secret") << QStringLiteral("secreT2") << QString()
                                        << QStringLiteral("Password Confirmation FAILED")
                                        << Form::fieldName(Form::Field::Password);
  QTest::newRow("no folder") << QStringLiteral("secret") << QStringLiteral("SECRET") << QString()
                             << QStringLiteral("Require Data Path") << Form::fieldName(Form::Field::Directory);
  QTest::newRow("a system folder") << QStringLiteral("secret") << QStringLiteral("secret") << QStringLiteral("/etc")
                                   << QStringLiteral("Data Path '/etc' cannot hold the history")
                                   << Form::fieldName(Form::Field::Directory);
}

void SettingsTest::checksInOrderWithTheirFocus() {
  QFETCH(QString, password);
  QFETCH(QString, confirm);
  QFETCH(QString, folder);
  QFETCH(QString, message);
  QFETCH(QString, focus);
  MemoryStore store;
  ScriptedPrompter prompter;
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  dialog->show();
  type(*dialog, password, confirm, folder);
  dialog->accept();
  QCOMPARE(prompter.shown.size(), size_t{1});
  QVERIFY2(prompter.shown[0].text.startsWith(message), qPrintable(prompter.shown[0].text));
  QCOMPARE(prompter.shown[0].title, QStringLiteral("VELTRIS Settings"));
  QVERIFY(dialog->focusWidget());
  QCOMPARE(dialog->focusWidget()->objectName(), focus);
  QVERIFY(store.written.isEmpty());
  QVERIFY(store.checked.isEmpty());
  QVERIFY(dialog->isVisible());
  delete dialog;
}

void SettingsTest::confirmationIgnoresCaseAndThePasswordBoxIsStored() {
  MemoryStore store;
  ScriptedPrompter prompter;
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  QString key;
  connect(dialog, &SettingsDialog::passwordChanged, this, [&](const QString& k) { key = k; });
  dialog->show();
  type(*dialog, QStringLiteral("MixedCase20CharsLong"), QStringLiteral("mixedcase20charslong"),
       QStringLiteral("/srv/history"));
  dialog->accept();
  QCOMPARE(store.written, QStringList{QStringLiteral("/srv/history|MixedCase20CharsLong")});
  QVERIFY2(key == QLatin1String("MixedCase20CharsLong"), "the stored text; the agent compares the first 16");
  QCOMPARE(texts(prompter), QStringList{kSuccess});
  QVERIFY(!(dialog && dialog->isVisible()));
  delete dialog;
}

void SettingsTest::missingFolderAnsweredNoWritesNothing() {
  MemoryStore store;
  store.folderExists = false;
  store.storedPassword = QStringLiteral("secret");
  store.storedPath = QStringLiteral("/srv/old");
  ScriptedPrompter prompter;
  prompter.answer(QStringLiteral("Data Path"), Answer::No);
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  dialog->show();
  QCOMPARE(dialog->confirmBox()->text(), QStringLiteral("secret"));
  dialog->folderBox()->setText(QStringLiteral("/srv/none"));
  dialog->accept();
  QCOMPARE(texts(prompter), QStringList{QStringLiteral("Data Path '/srv/none' does not exist.  Do you wish to create it ?")});
  QVERIFY(store.created.isEmpty());
  QVERIFY(store.written.isEmpty());
  QCOMPARE(dialog->focusWidget()->objectName(), Form::fieldName(Form::Field::Directory));
  delete dialog;
}

// Only what the user changed is written; a key the user may not read is kept
// while its boxes stay empty, and is never shown.
void SettingsTest::onlyChangedFieldsAreWritten_data() {
  QTest::addColumn<QString>("storedPassword");
  QTest::addColumn<QString>("storedPath");
  QTest::addColumn<bool>("keyHidden");  // or, with storedPassword "?", nothing could be read
  QTest::addColumn<QString>("typedPassword");  // null: the boxes are left as they opened
  QTest::addColumn<QString>("typedFolder");    // null: left as it opened
  QTest::addColumn<QStringList>("written");
  const QString s = QStringLiteral("secret"), h = QStringLiteral("/srv/h"), n = QStringLiteral("/srv/new");
  QTest::newRow("nothing changed") << s << h << false << QString() << QString() << QStringList{};
  QTest::newRow("folder only") << s << h << false << QString() << n << QStringList{QStringLiteral("/srv/new|-")};
  QTest::newRow("password only") << s << h << false << QStringLiteral("other") << QString()
                                 << QStringList{QStringLiteral("-|other")};
  QTest::newRow("hidden key kept, folder changed") << s << h << true << QString() << n
                                                   << QStringList{QStringLiteral("/srv/new|-")};
  QTest::newRow("hidden key kept, nothing changed") << s << h << true << QString() << QString() << QStringList{};
  QTest::newRow("hidden key replaced") << s << h << true << QStringLiteral("other") << QString()
                                       << QStringList{QStringLiteral("-|other")};
  const QString u = QStringLiteral("?");
  QTest::newRow("nothing read, nothing typed") << u << u << true << QString() << QString() << QStringList{};
  QTest::newRow("nothing read, folder typed") << u << u << true << QString() << n
                                              << QStringList{QStringLiteral("/srv/new|-")};
  QTest::newRow("nothing read, password typed") << u << u << true << QStringLiteral("other") << QString()
                                                << QStringList{QStringLiteral("-|other")};
  QTest::newRow("empty registry: both") << QString() << QString() << false << QStringLiteral("pw") << QString()
                                        << QStringList{Form::defaultDirectory() + QStringLiteral("|pw")};
}

void SettingsTest::onlyChangedFieldsAreWritten() {
  QFETCH(QString, storedPassword);
  QFETCH(QString, storedPath);
  QFETCH(bool, keyHidden);
  QFETCH(QString, typedPassword);
  QFETCH(QString, typedFolder);
  QFETCH(QStringList, written);
  MemoryStore store;
  store.storedPassword = storedPassword;
  store.storedPath = storedPath;
  store.keyHidden = keyHidden;
  store.readFails = storedPassword == QLatin1String("?");
  ScriptedPrompter prompter;
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  dialog->show();
  QVERIFY(!dialog->busy());
  if (keyHidden) QVERIFY2(dialog->passwordBox()->text().isEmpty(), "a hidden key is never shown");
  if (!typedPassword.isNull()) {
    dialog->passwordBox()->setText(typedPassword);
    dialog->confirmBox()->setText(typedPassword);
  }
  if (!typedFolder.isNull()) dialog->folderBox()->setText(typedFolder);
  dialog->accept();
  QCOMPARE(store.written, written);
  QCOMPARE(texts(prompter), written.isEmpty() ? QStringList{} : QStringList{kSuccess});
  QVERIFY(!(dialog && dialog->isVisible()));
  delete dialog;
}

// A store that answers later (pkexec waiting for the user): the boxes and OK
// are disabled until it does; a failed write leaves the dialog open.
void SettingsTest::boxesWaitForTheStoreAndFailuresKeepTheDialog_data() {
  QTest::addColumn<int>("result");
  QTest::addColumn<QString>("error");
  QTest::addColumn<QString>("message");
  QTest::newRow("written") << int(SettingsStore::Write::Done) << QString() << kSuccess;
  QTest::newRow("key cannot be opened") << int(SettingsStore::Write::KeyFailed) << QString()
                                        << QStringLiteral("FAILED to create/open registry key");
  QTest::newRow("value cannot be written") << int(SettingsStore::Write::WriteFailed) << QString()
                                           << QStringLiteral("FAILED to write parameters to registry");
  QTest::newRow("pkexec dismissed") << int(SettingsStore::Write::Failed)
                                    << QStringLiteral("pkexec: the authentication was dismissed (exit 126)")
                                    << QStringLiteral("pkexec: the authentication was dismissed (exit 126)");
}

void SettingsTest::boxesWaitForTheStoreAndFailuresKeepTheDialog() {
  QFETCH(int, result);
  QFETCH(QString, error);
  QFETCH(QString, message);
  MemoryStore store;
  store.deferred = true;
  store.storedPassword = QStringLiteral("secret");
  store.storedPath = QStringLiteral("/srv/h");
  store.writeResult = static_cast<SettingsStore::Write>(result);
  store.writeError = error;
  ScriptedPrompter prompter;
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  dialog->show();
  auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("btnOK"));
  QVERIFY(ok);
  QVERIFY(dialog->busy());
  QVERIFY(!dialog->passwordBox()->isEnabled() && !ok->isEnabled());
  QVERIFY(dialog->noteLabel()->isVisible());
  store.answerAll();
  QVERIFY(!dialog->busy());
  QVERIFY(dialog->passwordBox()->isEnabled() && ok->isEnabled());
  QCOMPARE(dialog->folderBox()->text(), QStringLiteral("/srv/h"));

  type(*dialog, QStringLiteral("other"), QStringLiteral("other"), QStringLiteral("/srv/new"));
  dialog->accept();
  QVERIFY(dialog->busy());  // checking the folder
  QVERIFY(!dialog->folderBox()->isEnabled());
  dialog->accept();  // OK again while busy: nothing more
  store.answerAll();  // the folder exists; then the write
  QVERIFY(dialog->busy());
  store.answerAll();
  QCOMPARE(store.checked, QStringList{QStringLiteral("/srv/new")});
  QCOMPARE(store.written, QStringList{QStringLiteral("/srv/new|other")});
  QCOMPARE(texts(prompter), QStringList{message});
  const bool done = result == int(SettingsStore::Write::Done);
  QCOMPARE(bool(dialog && dialog->isVisible()), !done);
  if (!done) QVERIFY(!dialog->busy() && dialog->folderBox()->isEnabled());
  delete dialog;
}

void SettingsTest::helperEmptyRegistryOpensWithTheDefaultFolder() {
  HelperRoot h;
  QPointer<SettingsDialog> dialog = new SettingsDialog(h.store);
  QCOMPARE(dialog->passwordBox()->text(), QString());
  QCOMPARE(dialog->folderBox()->text(), h.root.path() + QStringLiteral("/var/lib/veltris/VELTRIS History/"));
  delete dialog;
}

void SettingsTest::helperCreatesAMissingFolderWithItsParentsAndWritesBoth_data() {
  QTest::addColumn<QString>("below");
  QTest::newRow("one level") << QStringLiteral("/History");
  QTest::newRow("two levels") << QStringLiteral("/a/b");
}

void SettingsTest::helperCreatesAMissingFolderWithItsParentsAndWritesBoth() {
  QFETCH(QString, below);
  HelperRoot h;
  const QString folder = h.root.path() + below;
  ScriptedPrompter prompter;
  QPointer<SettingsDialog> dialog = new SettingsDialog(h.store);
  dialog->show();
  type(*dialog, QStringLiteral("Secret"), QStringLiteral("secret"), folder);
  dialog->accept();
  QTRY_VERIFY_WITH_TIMEOUT(!dialog || !dialog->isVisible(), 10000);
  QCOMPARE(texts(prompter),
           (QStringList{QStringLiteral("Data Path '") + folder + QStringLiteral("' does not exist.  Do you wish to create it ?"),
                        kSuccess}));
  QVERIFY(fs::is_directory(folder.toStdString()));
  const std::string text = h.registryText();
  QVERIFY2(text.find("\"OpenKey\"=\"Secret\"") != std::string::npos, text.c_str());
  QVERIFY2(text.find("\"DataPath\"=\"" + folder.toStdString() + "\"") != std::string::npos, text.c_str());
  StoredSettings stored;
  h.store.read(nullptr, [&](const StoredSettings& s) { stored = s; });
  QCOMPARE(stored.password, QStringLiteral("Secret"));
  QCOMPARE(stored.dataPath, folder);
  delete dialog;
}

void SettingsTest::helperSystemFolderIsRefusedAndNothingIsWritten() {
  HelperRoot h;
  ScriptedPrompter prompter;
  QPointer<SettingsDialog> dialog = new SettingsDialog(h.store);
  dialog->show();
  type(*dialog, QStringLiteral("secret"), QStringLiteral("secret"), QStringLiteral("/etc"));
  dialog->accept();
  QTest::qWait(100);
  QCOMPARE(h.registryText().find("OpenKey"), std::string::npos);
  QCOMPARE(dialog->focusWidget()->objectName(), Form::fieldName(Form::Field::Directory));
  QVERIFY(dialog->isVisible());
  QCOMPARE(prompter.shown.size(), size_t{1});
  QCOMPARE(prompter.shown[0].icon, desktop::MessageIcon::Stop);
  delete dialog;
}

// pkexec's own exit codes are named; its message and the helper's are shown as they are.
void SettingsTest::pkexecFailuresShownAsTheyAre_data() {
  QTest::addColumn<int>("code");
  QTest::addColumn<QString>("standardError");
  QTest::addColumn<QString>("shown");
  QTest::newRow("126") << 126 << QString() << QStringLiteral("pkexec: the authentication was dismissed (exit 126)");
  QTest::newRow("127") << 127
                       << QStringLiteral("Cannot run program /usr/libexec/veltris/veltris-settings-helper: No such file or directory")
                       << QStringLiteral("pkexec: not authorised, or the settings helper could not be run (exit 127)\n"
                                         "Cannot run program /usr/libexec/veltris/veltris-settings-helper: No such file or directory");
  QTest::newRow("helper's own") << 7
                                << QStringLiteral("veltris-settings-helper: '/etc' cannot hold the history: a system folder")
                                << QStringLiteral("veltris-settings-helper: '/etc' cannot hold the history: a system folder");
}

void SettingsTest::pkexecFailuresShownAsTheyAre() {
  QFETCH(int, code);
  QFETCH(QString, standardError);
  QFETCH(QString, shown);
  QCOMPARE(pkexecFailure(code, standardError), shown);
}

// Run by tray_lockout_xvfb_test.sh as a user who may not read the registry, with
// a stand-in pkexec: the dialog shows the stored folder and that a key is set.
void SettingsTest::settingsAsUserShowsTheStoredFolderThroughTheHelper() {
  const QByteArray expected = qgetenv("VELTRIS_TEST_STORED_FOLDER");
  if (expected.isEmpty()) QSKIP("run by tray_lockout_xvfb_test.sh");
  const QByteArray saved = qgetenv("VELTRIS_ROOT");
  qputenv("VELTRIS_ROOT", qgetenv("VELTRIS_TEST_ROOT"));
  HelperSettingsStore store(QStringLiteral(SETTINGS_HELPER));
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  dialog->show();
  QTRY_VERIFY_WITH_TIMEOUT(!dialog->busy(), 20000);
  QCOMPARE(dialog->folderBox()->text(), QString::fromLocal8Bit(expected));
  QVERIFY2(dialog->passwordBox()->text().isEmpty(), "the key is never shown");
  QCOMPARE(dialog->noteLabel()->text(), QStringLiteral("A password is set. Leave the boxes empty to keep it."));
  delete dialog;
  qputenv("VELTRIS_ROOT", saved);
}

QTEST_MAIN(SettingsTest)
#include "settings_test.moc"
