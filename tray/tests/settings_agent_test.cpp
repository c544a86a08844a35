// Settings and the running agent: after OK the agent refuses the old key and
// serves the new one, without a restart.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

#include "desktop/testing/scripted_prompter.h"
#include "tray/agent_link.h"
#include "tray/settings_dialog.h"
#include "tray/settings_store.h"

using namespace veltris;
using namespace veltris::tray;

namespace {

namespace fs = std::filesystem;

// One request with `key` on a connection of its own: 0, or the failing call's result.
int32_t agentServes(const std::string& key) {
  desktop::ConnectionAccess access;
  int32_t rc = access.open(nullptr);
  if (rc == 0) rc = access.write(("OPEN " + key).c_str());
  if (rc == 0) rc = access.write("CFG ");
  access.close();
  return rc;
}

// Asks for up to `seconds` until whether `key` is served is what is wanted.
bool eventually(const std::string& key, bool wanted, int seconds, int32_t& last) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    last = agentServes(key);
    if ((last == 0) == wanted) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

}  // namespace

class SettingsAgentTest : public QObject {
  Q_OBJECT
 private slots:
  void agentRefusesTheOldKeyAfterOk();
};

void SettingsAgentTest::agentRefusesTheOldKeyAfterOk() {
  QTemporaryDir root;
  const fs::path base = root.path().toStdString();
  qputenv("VELTRIS_ROOT", root.path().toLocal8Bit());
  qputenv("XDG_RUNTIME_DIR", root.path().toLocal8Bit());
  fs::create_directories(base / "etc/veltris");
  std::ofstream(base / "etc/veltris/registry.reg")
      << "Windows Registry Editor Version 5.00\n\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters]\n\"OpenKey\"=\"oldkey\"\n";
  const std::string trace = (base / "trace.pcap").string();
  QCOMPARE(std::system((std::string(MAKE_TRACE) + " " + trace + " 50 >/dev/null").c_str()), 0);

  pid_t agent = fork();
  if (agent == 0) {
    freopen("/dev/null", "w", stdout);
    std::string param = trace + "@02:00:00:00:00:01";
    execl(TAPSORSV, "TapsorSv", "-debug", param.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  auto stop = qScopeGuard([agent] {
    kill(agent, SIGINT);
    int status = 0;
    waitpid(agent, &status, 0);
  });
  int32_t last = 0;
  QVERIFY2(eventually("oldkey", true, 20, last), qPrintable(QString::number(last)));

  HelperSettingsStore store(QStringLiteral(SETTINGS_HELPER));
  desktop::test::ScriptedPrompter prompter;
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  dialog->show();
  QCOMPARE(dialog->passwordBox()->text(), QStringLiteral("oldkey"));
  dialog->passwordBox()->setText(QStringLiteral("NewKey"));
  dialog->confirmBox()->setText(QStringLiteral("newkey"));
  dialog->folderBox()->setText(root.path());
  dialog->accept();
  QTRY_VERIFY_WITH_TIMEOUT(!dialog || !dialog->isVisible(), 10000);
  QCOMPARE(prompter.shown.size(), size_t{1});
  delete dialog;

  QVERIFY2(eventually("oldkey", false, 10, last), "the old key is still served");
  QCOMPARE(last, -2);  // refused
  QCOMPARE(agentServes("NewKey"), 0);
}

QTEST_MAIN(SettingsAgentTest)
#include "settings_agent_test.moc"
