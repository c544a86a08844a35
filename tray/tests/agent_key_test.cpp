// Settings and the running agent: after OK the agent refuses the old key and
// serves the new one, without a restart.
#include <gtest/gtest.h>
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

#include "tray/agent_link.h"
#include "tray/settings_dialog.h"
#include "tray/settings_store.h"

namespace veltris::tray {
namespace {

namespace fs = std::filesystem;

bool agentServes(const std::string& key, QString& error) {
  QString text;
  return askAgent(key, "CFG ", text, error);
}

// Polls for up to `seconds` until `served(key)` is what is wanted.
bool eventually(const std::string& key, bool wanted, int seconds, QString& error) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (agentServes(key, error) == wanted) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

TEST(SettingsWithAgent, AgentRefusesTheOldKeyAfterOk) {
  QTemporaryDir root;
  const fs::path base = root.path().toStdString();
  const QByteArray saved = qgetenv("VELTRIS_ROOT");
  qputenv("VELTRIS_ROOT", root.path().toLocal8Bit());
  qputenv("VELTRIS_EPM_PORT", "0");
  fs::create_directories(base / "etc/veltris");
  std::ofstream(base / "etc/veltris/registry.reg")
      << "Windows Registry Editor Version 5.00\n\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters]\n\"OpenKey\"=\"oldkey\"\n";
  const std::string trace = (base / "trace.pcap").string();
  ASSERT_EQ(std::system((std::string(MAKE_TRACE) + " " + trace + " 50 >/dev/null").c_str()), 0);

  pid_t agent = fork();
  if (agent == 0) {
    freopen("/dev/null", "w", stdout);
    std::string param = trace + "@02:00:00:00:00:01";
    execl(TAPSORSV, "TapsorSv", "-debug", param.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  QString error;
  EXPECT_TRUE(eventually("oldkey", true, 20, error)) << error.toStdString();

  HelperSettingsStore store(SETTINGS_HELPER);
  QPointer<SettingsDialog> dialog = new SettingsDialog(store);
  QStringList messages;
  dialog->setMessageHook([&](QMessageBox::Icon, const QString& text, QMessageBox::StandardButtons) {
    messages << text;
    return QMessageBox::Yes;
  });
  EXPECT_EQ(dialog->passwordBox()->text(), "oldkey");
  dialog->passwordBox()->setText("NewKey");
  dialog->confirmBox()->setText("newkey");
  dialog->folderBox()->setText(root.path());
  dialog->accept();
  EXPECT_EQ(messages.size(), 1);
  delete dialog;

  EXPECT_TRUE(eventually("oldkey", false, 10, error)) << "the old key is still served";
  EXPECT_TRUE(error.contains("refused")) << error.toStdString();
  EXPECT_TRUE(agentServes("NewKey", error)) << error.toStdString();

  kill(agent, SIGINT);
  int status = 0;
  waitpid(agent, &status, 0);
  qputenv("VELTRIS_ROOT", saved);
}

}  // namespace
}  // namespace veltris::tray
