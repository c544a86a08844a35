#include "setup/tests/file_lists_test.h"

#include <fcntl.h>
#include <unistd.h>

#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <fstream>

#include "desktop/messages.h"
#include "setup/file_lists.h"
#include "setup/file_transfer.h"
#include "setup/step_runner.h"

namespace veltris::setup::testing {
namespace {

namespace fs = std::filesystem;

const FileList& listNamed(const QString& name) {
  if (name == "help") return helpList();
  if (name == "advanced") return advancedToolsList();
  return agentFilesList();
}

// Answers "Failed to copy files": Retry after taking the blocker away, or Cancel.
class CopyFailurePrompter final : public desktop::Prompter {
 public:
  CopyFailurePrompter(fs::path blocker, bool retry)
      : blocker_(std::move(blocker)), retry_(retry), previous_(desktop::setPrompter(this)) {}
  ~CopyFailurePrompter() override { desktop::setPrompter(previous_); }
  desktop::Answer ask(const desktop::Message& message) override {
    shown.push_back(message);
    if (!retry_) return desktop::Answer::Cancel;
    fs::remove(blocker_);
    return desktop::Answer::Retry;
  }
  std::vector<desktop::Message> shown;

 private:
  fs::path blocker_;
  bool retry_;
  desktop::Prompter* previous_;
};

}  // namespace

void FileListsTest::init() {
  char pattern[] = "/tmp/veltris-files-XXXXXX";
  dir_ = ::mkdtemp(pattern);
  fs::create_directories(dir_ / "from/help/pictures");
  fs::create_directories(dir_ / "to");
  std::ofstream(dir_ / "from/TapsorSv") << "new";
  std::ofstream(dir_ / "from/TapsorCC") << "runner";
  std::ofstream(dir_ / "from/help/index.html") << "index";
  std::ofstream(dir_ / "from/help/pictures/tray.svg") << "svg";
}

void FileListsTest::cleanup() { fs::remove_all(dir_); }

QString FileListsTest::at(const char* sub) const { return QString::fromStdString((dir_ / sub).string()); }

void FileListsTest::checkNamesTheFirstMissingFileInListOrder_data() {
  QTest::addColumn<QString>("list");
  QTest::addColumn<QStringList>("removed");
  QTest::addColumn<QString>("missing");
  QTest::newRow("all there") << "agent" << QStringList{} << "";
  QTest::newRow("both gone: the first of the list") << "agent" << QStringList{"TapsorSv", "TapsorCC"} << "TapsorSv";
  QTest::newRow("the second gone") << "agent" << QStringList{"TapsorCC"} << "TapsorCC";
  QTest::newRow("none of the tools") << "advanced" << QStringList{} << "SetupCL";
  QTest::newRow("a folder counts") << "help" << QStringList{} << "";
}

void FileListsTest::checkNamesTheFirstMissingFileInListOrder() {
  QFETCH(QString, list);
  QFETCH(QStringList, removed);
  QFETCH(QString, missing);
  for (const QString& name : removed) fs::remove(dir_ / "from" / name.toStdString());
  QCOMPARE(firstMissing(listNamed(list), at("from")), missing);
}

void FileListsTest::moveReplacesByRenameAndCopyKeepsTheSource() {
  std::ofstream(dir_ / "to/TapsorSv") << "old";
  const int running = ::open((dir_ / "to/TapsorSv").c_str(), O_RDONLY);  // as a running program holds it
  QString failure;
  QVERIFY2(transferFiles(agentFilesList(), at("from"), at("to"), Transfer::Move, failure), qPrintable(failure));
  char old[4] = {};
  QCOMPARE(::pread(running, old, 3, 0), 3);
  QCOMPARE(old, "old");  // the running program's file is left whole
  ::close(running);
  std::ifstream now(dir_ / "to/TapsorSv");
  QCOMPARE(std::string(std::istreambuf_iterator<char>(now), {}), std::string("new"));
  QVERIFY(!fs::exists(dir_ / "from/TapsorSv"));
  QVERIFY(!fs::exists(dir_ / "to/TapsorSv.setup-new"));

  QVERIFY(transferFiles(helpList(), at("from"), at("to"), Transfer::Copy, failure));
  QVERIFY(fs::exists(dir_ / "to/help/pictures/tray.svg"));
  QVERIFY(fs::exists(dir_ / "from/help/index.html"));
}

void FileListsTest::failureSaysWhatCouldNotBeWritten() {
  std::ofstream(dir_ / "blocker") << "a file where a folder should be";
  QString failure;
  QVERIFY(!transferFiles(agentFilesList(), at("from"), at("blocker/sbin"), Transfer::Copy, failure));
  QVERIFY2(failure.contains("blocker/sbin"), qPrintable(failure));
}

// The copy runs on a worker; the window shows how many of the group's files
// are in place, through the worker's queued progress, and goes when it is done.
void FileListsTest::transferFeedsItsProgressWindow() {
  constexpr int kPages = 40;
  for (int i = 0; i < kPages; ++i) std::ofstream(dir_ / ("from/help/page" + std::to_string(i) + ".html")) << i;
  const int total = kPages + 2;
  QWidget owner;
  StepRunner steps(0);
  bool done = false;
  transferWithRetry(steps, &owner, {helpList(), at("from"), at("to"), Transfer::Copy, "Copying VELTRIS Help Files"},
                    [&] { done = true; });
  QVERIFY2(!done, "the files are copied on a worker, never on the caller's thread");
  QPointer<QProgressDialog> window = owner.findChild<QProgressDialog*>();
  QVERIFY(window);
  QVERIFY(window->isVisible());
  QCOMPARE(window->windowTitle(), "Copying VELTRIS Help Files");
  QCOMPARE(window->labelText(), "Copying VELTRIS Help Files");
  auto* bar = window->findChild<QProgressBar*>();
  QVERIFY(bar);
  int maximum = 0;
  std::vector<int> values;
  connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
    values.push_back(value);
    maximum = bar->maximum();
  });
  QTRY_VERIFY(done);
  QCOMPARE(maximum, total);
  QVERIFY(!values.empty());
  QCOMPARE(values.back(), total);
  QVERIFY(std::is_sorted(values.begin(), values.end()));
  QVERIFY2(!window, "the window goes with the step");
  QVERIFY(fs::exists(dir_ / ("to/help/page" + std::to_string(kPages - 1) + ".html")));
}

void FileListsTest::failedTransferAsksRetryOrCancel_data() {
  QTest::addColumn<bool>("retry");
  QTest::newRow("Retry copies again") << true;
  QTest::newRow("Cancel exits") << false;
}

void FileListsTest::failedTransferAsksRetryOrCancel() {
  QFETCH(bool, retry);
  std::ofstream(dir_ / "blocker") << "a file where a folder should be";
  CopyFailurePrompter prompter(dir_ / "blocker", retry);
  StepRunner steps(0);
  QSignalSpy ended(&steps, &StepRunner::finished);
  bool done = false;
  steps.run([&] {
    transferWithRetry(steps, nullptr, {agentFilesList(), at("from"), at("blocker"), Transfer::Copy, QString()},
                      [&] { done = true; });
  });
  if (retry) {
    QTRY_VERIFY(done);
    QVERIFY(ended.isEmpty());
    QVERIFY(fs::exists(dir_ / "blocker/TapsorCC"));
  } else {
    QTRY_COMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(0).toInt(), 1);
    QVERIFY(!done);
  }
  QCOMPARE(prompter.shown.size(), 1u);
  QCOMPARE(prompter.shown[0].text, "Failed to copy files");
  QCOMPARE(prompter.shown[0].title, "VELTRIS Setup Error");
  QCOMPARE(prompter.shown[0].buttons, desktop::MessageButtons::RetryCancel);
}

}  // namespace veltris::setup::testing
