// The help book and its window: every context number the programs use opens
// an existing topic, every link of contents and index resolves, search finds.
#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>

#include "help/help_book.h"
#include "help/help_contexts.h"
#include "help/help_viewer.h"
#include "help/help_window.h"

using namespace veltris::help;

class HelpTest : public QObject {
  Q_OBJECT

 private:
  // The compiled-in copy is what the programs ship.
  const HelpBook& book() {
    static const HelpBook b(":/veltris/help");
    return b;
  }

  void checkTarget(const QString& target, const QString& where) {
    const QString page = target.section('#', 0, 0);
    const QString anchor = target.section('#', 1);
    QVERIFY2(book().pages().contains(page), qPrintable(where + ": no page " + page));
    if (!anchor.isEmpty()) QVERIFY2(book().hasAnchor(page, anchor), qPrintable(where + ": no anchor " + target));
    QVERIFY2(!book().urlFor(target).isEmpty(), qPrintable(where));
  }

 private slots:
  void bookIsComplete() {
    QVERIFY2(book().isValid(), qPrintable(book().error()));
    for (const QString& page : book().pages()) {
      QVERIFY2(!book().titleOf(page).isEmpty() && book().titleOf(page) != page, qPrintable(page + " has no title"));
      QVERIFY2(book().pageText(page).size() > 200, qPrintable(page + " says too little"));
    }
  }

  void everyContextNumberOpensATopic_data() {
    QTest::addColumn<int>("context");
    QTest::addColumn<QString>("mustMention");
    QTest::newRow("QuickLook") << kQuickLook << "QuickLook";
    QTest::newRow("Overview") << kTabOverview << "graphs";
    QTest::newRow("Sessions") << kTabSessions << "partner";
    QTest::newRow("Broadcasts") << kTabBroadcasts << "Broadcasters";
    QTest::newRow("Errors") << kTabErrors << "re-transmit";
    QTest::newRow("Details") << kTabDetails << "Exclude Recv Broadcasts";
    QTest::newRow("Adapter") << kTabAdapter << "Collisions";
    QTest::newRow("Test") << kTabTest << "NET USE";
    QTest::newRow("Loopback warning") << kLoopbackWarning << "ALL LOCAL";
    QTest::newRow("Agent settings") << kAgentSettings << "Directory";
    QTest::newRow("Legend") << kLegend << "Target device may not be active";
    QTest::newRow("NET USE refusal") << kNetUse << "NET USE";
    QTest::newRow("Snapshots") << kSnapshots << "Export Packets";
  }
  void everyContextNumberOpensATopic() {
    QFETCH(int, context);
    QFETCH(QString, mustMention);
    QVERIFY(book().contextMap().contains(context));
    const QString target = book().contextMap().value(context);
    checkTarget(target, QString::number(context));
    QVERIFY2(book().pageText(target.section('#', 0, 0)).contains(mustMention, Qt::CaseInsensitive),
             qPrintable(target + " does not mention " + mustMention));
  }

  void tabContextsAreContiguous() {
    for (int tab = 0; tab < kTabCount; ++tab) QVERIFY(book().contextMap().contains(kTabBase + tab));
  }

  void everyMappedLinkResolves() {
    for (auto it = book().contextMap().begin(); it != book().contextMap().end(); ++it)
      checkTarget(*it, "context " + QString::number(it.key()));
    for (const ContentsEntry& entry : book().contents()) checkTarget(entry.target, "contents " + entry.title);
    for (const IndexEntry& entry : book().index()) checkTarget(entry.target, "index " + entry.keyword);
  }

  void linksBetweenPagesResolve() {
    static const QRegularExpression href("href=\"([^\":]+)\"");
    for (const QString& page : book().pages()) {
      QFile file(":/veltris/help/" + page);
      QVERIFY(file.open(QIODevice::ReadOnly));
      const QString html = QString::fromUtf8(file.readAll());
      for (auto m = href.globalMatch(html); m.hasNext();) {
        const QString target = m.next().captured(1);
        if (target.endsWith(".css")) continue;
        checkTarget(target, page);
      }
    }
  }

  void searchNeedsEveryWord() {
    const QList<SearchHit> hits = book().search("collisions duplex");
    QVERIFY(!hits.isEmpty());
    QCOMPARE(hits.first().page, QString("adapter.html"));
    QVERIFY(book().search("collisions zzqqxx").isEmpty());
    QVERIFY(book().search("   ").isEmpty());
  }

  void windowOpensTopicAndSearches() {
    QWidget owner;
    showTopic(kTabTest, &owner);
    HelpViewer* viewer = currentViewer();
    QVERIFY(viewer != nullptr);
    QCOMPARE(viewer->currentUrl().fileName(), QString("test.html"));
    showTopic(kLoopbackWarning, &owner);
    QCOMPARE(currentViewer(), viewer);  // one window, raised again
    QCOMPARE(viewer->currentUrl().fileName(), QString("loopback.html"));
    showTopic(99999, &owner);  // unknown: the contents
    QCOMPARE(viewer->currentUrl().fileName(), QString("index.html"));

    viewer->runSearch("snapshot pcap");
    auto* results = viewer->findChild<QListWidget*>("lstHelpSearch");
    QVERIFY(results->count() > 0);
    QCOMPARE(results->item(0)->data(Qt::UserRole).toString(), QString("snapshots.html"));

    QVERIFY(showIndex(&owner));
    auto* filter = viewer->findChild<QLineEdit*>("txtHelpIndex");
    QTest::keyClicks(filter, "net use");
    QTest::keyClick(filter, Qt::Key_Return);
    QCOMPARE(viewer->currentUrl().fileName(), QString("test.html"));
    QCOMPARE(viewer->currentUrl().fragment(), QString("netuse"));
  }

  void f1OpensTheFocusedWidgetsTopic() {
    QWidget window;
    auto* tab = new QWidget(&window);
    auto* edit = new QLineEdit(tab);
    setHelpContext(&window, kTabOverview);
    setHelpContext(tab, kTabAdapter);
    installHelpKey(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    edit->setFocus();
    QCOMPARE(helpContextOf(edit), kTabAdapter);
    QTest::keyClick(edit, Qt::Key_F1);
    QVERIFY(currentViewer() != nullptr);
    QCOMPARE(currentViewer()->currentUrl().fileName(), QString("adapter.html"));
  }
};

QTEST_MAIN(HelpTest)
#include "help_test.moc"
