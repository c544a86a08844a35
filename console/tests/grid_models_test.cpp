// The grid models of the sessions, broadcasts, errors, details and adapter
// tabs: counter modes, sorting, the row limit, colours and wording.
#include <QItemSelectionModel>
#include <QPalette>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <vector>

#include "console/models/adapter_model.h"
#include "console/models/broadcasts_model.h"
#include "console/models/grid_text.h"
#include "console/models/packets_model.h"
#include "console/models/sessions_model.h"
#include "tests/support/console_records.h"

using namespace veltris;
using namespace veltris::console;
using namespace veltris::console::testing;

namespace {

QString cell(const QAbstractItemModel& m, int row, int column) { return m.index(row, column).data().toString(); }

QStringList column(const QAbstractItemModel& m, int c) {
  QStringList out;
  for (int r = 0; r < m.rowCount(); ++r) out << cell(m, r, c);
  return out;
}

void poll(SessionsModel& model, const std::vector<PartnerStatRecord>& records, bool historyDay = false) {
  model.beginPoll(historyDay);
  for (const auto& r : records) model.applyRecord(r);
  model.endPoll();
}

PartnerStatRecord partner(const std::string& station, Counters c, const std::string& time = "10:00:00",
                          const std::string& name = "") {
  return statRecord(1, station, "IP " + station, name, time, c);
}

// Counter cells 6-11 of a row.
QStringList counters(const SessionsModel& m, int row) {
  QStringList out;
  for (int c = 6; c < 12; ++c) out << cell(m, row, c);
  return out;
}

std::vector<uint8_t> oidRecord(uint32_t adapter, const char* media) {
  std::vector<uint8_t> r(kOidRecordSize, 0);
  std::memcpy(r.data(), kOidTag, 4);
  r[4] = static_cast<uint8_t>(adapter);
  std::memcpy(r.data() + 8, "eth0", 4);
  std::memcpy(r.data() + 224, media, std::strlen(media));
  std::memcpy(r.data() + 336, "7               ", 16);  // one collision, blank-padded
  return r;
}

}  // namespace

class GridsTest : public QObject {
  Q_OBJECT

 private slots:
  void counterFormat_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero is empty") << 0.0 << "";
    QTest::newRow("below a half") << 0.4 << "";
    QTest::newRow("small") << 999.0 << "999";
    QTest::newRow("thousands") << 1234.0 << "1,234";
    QTest::newRow("millions") << 1234567.0 << "1,234,567";
    QTest::newRow("float bytes round") << 1499.6 << "1,500";
  }
  void counterFormat() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(counterText(value), text);
  }

  void sessionsModesAfterPollsAndClear() {
    SessionsModel m;
    poll(m, {partner("A", {1000, 10, 1, 0, 5000, 20}), partner("B", {200, 2, 0, 1, 0, 0})});
    QCOMPARE(m.rowCount(), 2);
    QCOMPARE(counters(m, 0), QStringList({"1,000", "10", "1", "", "5,000", "20"}));
    // No STAT record: nothing changes.
    poll(m, {});
    QCOMPARE(counters(m, 0), QStringList({"1,000", "10", "1", "", "5,000", "20"}));

    poll(m, {partner("A", {1500, 15, 1, 0, 9000, 30})});
    QCOMPARE(counters(m, 0), QStringList({"1,500", "15", "1", "", "9,000", "30"}));
    m.setMode(CounterMode::Delta);
    QCOMPARE(counters(m, 0), QStringList({"500", "5", "", "", "4,000", "10"}));
    // B was not in the last poll: empty in Delta mode, kept in Totals.
    QCOMPARE(counters(m, 1), QStringList({"", "", "", "", "", ""}));
    m.setMode(CounterMode::Totals);
    QCOMPARE(counters(m, 1), QStringList({"200", "2", "", "1", "", ""}));

    // "&Clear": Totals turns into Count, and Count right after it is empty.
    m.takeBaseline();
    QCOMPARE(m.mode(), CounterMode::Count);
    QCOMPARE(counters(m, 0), QStringList({"", "", "", "", "", ""}));
    poll(m, {partner("A", {1600, 16, 3, 0, 9000, 31})});
    QCOMPARE(counters(m, 0), QStringList({"100", "1", "2", "", "", "1"}));
    // The hidden columns keep totals, baseline and difference as plain numbers.
    QCOMPARE(cell(m, 0, SessionsModel::kTotalsColumn), QString("1600"));
    QCOMPARE(cell(m, 0, SessionsModel::kBaselineColumn), QString("1500"));
    QCOMPARE(cell(m, 0, SessionsModel::kDeltaColumn), QString("100"));
    // "&Reset CLEAR" shows the totals again.
    m.dropBaseline();
    QCOMPARE(m.mode(), CounterMode::Totals);
    QCOMPARE(counters(m, 0).first(), QString("1,600"));
  }

  void sessionsDeltaModeEmptiesUntouchedRowsAfterEachPoll() {
    SessionsModel m;
    m.setMode(CounterMode::Delta);
    poll(m, {partner("A", {10, 1}), partner("B", {20, 2})});
    QCOMPARE(counters(m, 1).first(), QString("20"));
    poll(m, {partner("A", {30, 3})});
    QCOMPARE(counters(m, 0).first(), QString("20"));
    QCOMPARE(counters(m, 1).first(), QString(""));
    // B comes back: its difference is against its last total, not the poll before.
    poll(m, {partner("B", {25, 3})});
    QCOMPARE(counters(m, 1).mid(0, 2), QStringList({"5", "1"}));
    QCOMPARE(counters(m, 0).first(), QString(""));
  }

  // A poll announces its changes as ranges of cells, one per run of changed
  // columns: every cell whose text changed lies in one of them.
  void sessionsPollAnnouncesTheCellsItChanged_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<std::vector<PartnerStatRecord>>("records");
    const std::vector<PartnerStatRecord> same = {partner("A", {11, 1}), partner("B", {22, 2}), partner("C", {33, 3})};
    const std::vector<PartnerStatRecord> counter = {partner("A", {11, 1}), partner("B", {25, 2}), partner("C", {33, 3})};
    const std::vector<PartnerStatRecord> time = {partner("A", {11, 1}), partner("B", {22, 2}, "10:00:05"),
                                                 partner("C", {33, 3})};
    const std::vector<PartnerStatRecord> name = {partner("C", {33, 3}, "10:00:00", "HOST")};
    const std::vector<PartnerStatRecord> missing = {partner("A", {11, 1}), partner("C", {33, 3})};
    const std::vector<PartnerStatRecord> added = {partner("A", {11, 1}), partner("D", {5, 1})};
    for (auto [mode, label] : {std::pair{CounterMode::Totals, "Totals"}, {CounterMode::Count, "Count"},
                               {CounterMode::Delta, "Delta"}}) {
      const int m = static_cast<int>(mode);
      QTest::addRow("%s the same totals", label) << m << same;
      QTest::addRow("%s one counter", label) << m << counter;
      QTest::addRow("%s one time", label) << m << time;
      QTest::addRow("%s one name, the others missing", label) << m << name;
      QTest::addRow("%s a partner missing", label) << m << missing;
      QTest::addRow("%s a new partner", label) << m << added;
    }
  }
  void sessionsPollAnnouncesTheCellsItChanged() {
    QFETCH(int, mode);
    QFETCH(std::vector<PartnerStatRecord>, records);
    SessionsModel m;
    m.setMode(static_cast<CounterMode>(mode));
    poll(m, {partner("A", {10, 1}), partner("B", {20, 2}), partner("C", {30, 3})});
    poll(m, {partner("A", {11, 1}), partner("B", {22, 2}), partner("C", {33, 3})});
    auto cells = [&m] {
      QStringList all;
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < SessionsModel::kColumns; ++c) all << cell(m, r, c);
      return all;
    };
    const QStringList before = cells();
    QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
    poll(m, records);
    const QStringList after = cells();
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < SessionsModel::kColumns; ++c) {
        if (before[r * SessionsModel::kColumns + c] == after[r * SessionsModel::kColumns + c]) continue;
        bool inside = false;
        for (const QList<QVariant>& range : changed) {
          const auto from = range[0].value<QModelIndex>(), to = range[1].value<QModelIndex>();
          inside |= r >= from.row() && r <= to.row() && c >= from.column() && c <= to.column();
        }
        QVERIFY2(inside, qPrintable(QString("row %1 column %2 changed unannounced").arg(r).arg(c)));
      }
    }
  }

  // The same records again change no cell, so the grid is not told to repaint.
  void sessionsRepeatedPollAnnouncesNothing() {
    for (CounterMode mode : {CounterMode::Totals, CounterMode::Count, CounterMode::Delta}) {
      SessionsModel m;
      m.setMode(mode);
      const std::vector<PartnerStatRecord> records = {partner("A", {10, 1}), partner("B", {20, 2}, "10:00:01", "B")};
      poll(m, records);
      poll(m, records);
      QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
      poll(m, records);
      QCOMPARE(changed.size(), 0);
    }
  }

  void fieldTextInPlace_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("changed");
    QTest::newRow("same") << "10:00:01" << QByteArray("10:00:01") << "10:00:01" << false;
    QTest::newRow("new time") << "10:00:01" << QByteArray("10:00:02") << "10:00:02" << true;
    QTest::newRow("blanks and NUL cut") << "HOST" << QByteArray("HOST  \0xx", 9) << "HOST" << false;
    QTest::newRow("longer") << "A" << QByteArray("ABCDEFGH") << "ABCDEFGH" << true;
    QTest::newRow("shorter") << "ABCDEFGH" << QByteArray("AB\0\0\0\0\0\0", 8) << "AB" << true;
    QTest::newRow("to empty") << "AB" << QByteArray(8, '\0') << "" << true;
    QTest::newRow("Latin-1") << "" << QByteArray("M\xfcller") << QString::fromLatin1("M\xfcller") << true;
  }
  void fieldTextInPlace() {
    QFETCH(QString, before);
    QFETCH(QByteArray, field);
    QFETCH(QString, after);
    QFETCH(bool, changed);
    QString text = before;
    const QString shared = text;  // a copy held elsewhere keeps its value
    QCOMPARE(setFieldText(text, field.constData(), static_cast<size_t>(field.size())), changed);
    QCOMPARE(text, after);
    QCOMPARE(text, fieldText(field.constData(), static_cast<size_t>(field.size())));
    QCOMPARE(shared, before);
  }

  void sessionsRowsMatchAdapterStationAndProtocol() {
    SessionsModel m;
    poll(m, {statRecord(1, "S", "IP 10.0.0.1", "", "", {1}), statRecord(2, "S", "IP 10.0.0.1", "", "", {2}),
             statRecord(1, "S", "IP 10.0.0.2", "", "", {3}), statRecord(1, "S", "IP 10.0.0.1", "NAMED", "10:00:01", {4})});
    QCOMPARE(m.rowCount(), 3);
    QCOMPARE(cell(m, 0, 4), QString("NAMED"));
    QCOMPARE(cell(m, 0, 6), QString("4"));
  }

  void sessionsHistoryDayAddsUp() {
    SessionsModel m;
    poll(m, {partner("A", {100, 1}), partner("A", {50, 2})}, true);
    QCOMPARE(counters(m, 0).mid(0, 2), QStringList({"150", "3"}));
  }

  void sessionsSortRules_data() {
    QTest::addColumn<int>("sortColumn");
    QTest::addColumn<QStringList>("stations");
    QTest::newRow("station, text ignoring case") << 1 << QStringList({"alpha", "Bravo", "charlie"});
    QTest::newRow("name, text ignoring case") << 4 << QStringList({"charlie", "Bravo", "alpha"});
    QTest::newRow("time, newest first") << 5 << QStringList({"charlie", "alpha", "Bravo"});
    QTest::newRow("bytes sent, largest first") << 6 << QStringList({"Bravo", "alpha", "charlie"});
    QTest::newRow("pkts recv, as numbers") << 11 << QStringList({"charlie", "Bravo", "alpha"});
  }
  void sessionsSortRules() {
    QFETCH(int, sortColumn);
    QFETCH(QStringList, stations);
    SessionsModel m;
    poll(m, {partner("charlie", {5, 0, 0, 0, 0, 100}, "09:00:00", "Anna"),
             partner("alpha", {900, 0, 0, 0, 0, 9}, "08:59:59", "zoe"),
             partner("Bravo", {1000, 0, 0, 0, 0, 10}, "08:00:00", "ANNE")});
    m.sort(sortColumn);
    QCOMPARE(column(m, 1), stations);
  }

  void sessionsCounterSortFollowsTheShownMode() {
    SessionsModel m;
    poll(m, {partner("big", {1000}), partner("busy", {10})});
    poll(m, {partner("big", {1001}), partner("busy", {500})});
    m.sort(6);
    QCOMPARE(column(m, 1), QStringList({"big", "busy"}));
    m.setMode(CounterMode::Delta);
    m.sort(6);
    QCOMPARE(column(m, 1), QStringList({"busy", "big"}));
  }

  void sortKeepsTheSelectedRowAndRepeats() {
    SessionsModel m;
    QTableView view;
    view.setModel(&m);
    poll(m, {partner("b", {1}), partner("c", {3}), partner("a", {2})});
    view.selectionModel()->setCurrentIndex(m.index(1, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m.sort(1);
    const QModelIndex current = view.selectionModel()->currentIndex();
    QCOMPARE(cell(m, current.row(), 1), QString("c"));
    QVERIFY(view.selectionModel()->isRowSelected(current.row(), {}));
    // A new partner arrives; opening the tab applies the sort again.
    poll(m, {partner("0", {9})});
    QCOMPARE(cell(m, 3, 1), QString("0"));
    m.resort();
    QCOMPARE(column(m, 1), QStringList({"0", "a", "b", "c"}));
  }

  void unexpectedSortColumnsAreRefused() {
    QCOMPARE(SessionsModel::sortError(12), QString("ERROR - unexpected col 12"));
    QCOMPARE(SessionsModel::sortError(11), QString());
    QCOMPARE(BroadcastsModel::sortError(8), QString("ERROR - unexpected col 8"));
    QCOMPARE(BroadcastsModel::sortError(7), QString());
    SessionsModel m;
    poll(m, {partner("b", {1}), partner("a", {2})});
    m.sort(20);
    QCOMPARE(column(m, 1), QStringList({"b", "a"}));
  }

  void broadcastsSortAndHeaders() {
    BroadcastsModel m;
    m.setEntries({broadcastEntry(1, "x", "10:00:00", 5, 1), broadcastEntry(1, "y", "10:00:05", 50, 0),
                  broadcastEntry(2, "z", "09:00:00", 7, 3)});
    m.sort(BroadcastsModel::kLast15Column);
    QCOMPARE(column(m, 1), QStringList({"y", "z", "x"}));
    m.sort(BroadcastsModel::kLast1Column);
    QCOMPARE(column(m, 1), QStringList({"z", "x", "y"}));
    m.sort(kTimeColumn);
    QCOMPARE(column(m, 1), QStringList({"y", "x", "z"}));
    // A new reply keeps the chosen sort.
    m.setEntries({broadcastEntry(1, "p", "08:00:00", 1, 0), broadcastEntry(1, "q", "11:00:00", 2, 0)});
    QCOMPARE(column(m, 1), QStringList({"q", "p"}));
    m.setView(true, false);
    QCOMPARE(m.headerData(8, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Description"));
    m.setView(false, true);
    QCOMPARE(m.headerData(8, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Low Level Description of Last Broadcast"));
  }

  void broadcastSummaryWording_data() {
    QTest::addColumn<bool>("sent");
    QTest::addColumn<uint>("count");
    QTest::addColumn<uint>("entries");
    QTest::addColumn<QString>("text");
    const QString span = " within the last 15 minutes from 09:45:00 to 10:00:00";
    QTest::newRow("sent, none") << true << 0u << 0u << "NO broadcasts,  0 different types of broadcasts, sent by PC1" + span;
    QTest::newRow("sent, one") << true << 1u << 1u << "1 broadcast, 1 type of broadcast, sent by PC1" + span;
    QTest::newRow("sent, many") << true << 12u << 3u << " 12 broadcasts,  3 different types of broadcasts, sent by PC1" + span;
    QTest::newRow("broadcasters, none") << false << 0u << 0u << "NO broadcasts, sent by  0 different network addresses," + span;
    QTest::newRow("broadcasters, one") << false << 4u << 1u << " 4 broadcasts, sent by 1 network address," + span;
    QTest::newRow("broadcasters, many") << false << 1u << 2u << "1 broadcast, sent by  2 different network addresses," + span;
  }
  void broadcastSummaryWording() {
    QFETCH(bool, sent);
    QFETCH(uint, count);
    QFETCH(uint, entries);
    QFETCH(QString, text);
    QCOMPARE(broadcastSummary(sent, count, entries, "PC1", "09:45:00xx", "10:00:00"), text);
  }

  void packetsKeepAtMost999Rows() {
    PacketsModel m;
    std::vector<DetailRecord> batch;
    for (uint32_t i = 1; i <= 600; ++i) batch.push_back(detailRecord(i, "<-  "));
    m.append(batch);
    QCOMPARE(m.rowCount(), 600);
    batch.clear();
    for (uint32_t i = 601; i <= 1000; ++i) batch.push_back(detailRecord(i, "  ->"));
    m.append(batch);
    // The 1000th data row pushes the oldest out.
    QCOMPARE(m.rowCount(), 999);
    QCOMPARE(cell(m, 0, PacketsModel::kPktColumn), QString("2"));
    QCOMPARE(cell(m, 998, PacketsModel::kPktColumn), QString("1000"));
    batch.clear();
    for (uint32_t i = 1001; i <= 2500; ++i) batch.push_back(detailRecord(i, "  ->"));
    m.append(batch);
    QCOMPARE(m.rowCount(), 999);
    QCOMPARE(cell(m, 0, PacketsModel::kPktColumn), QString("1502"));
  }

  void packetsExcludeReceivedBroadcasts() {
    PacketsModel m;
    m.setExcludeReceivedBroadcasts(true);
    m.append({detailRecord(1, "<<  "), detailRecord(2, "  >>"), detailRecord(3, "<-  ")});
    QCOMPARE(column(m, PacketsModel::kPktColumn), QStringList({"2", "3"}));
    m.setExcludeReceivedBroadcasts(false);
    m.append({detailRecord(4, "<<  ")});
    QCOMPARE(m.rowCount(), 3);
  }

  void packetsColumnsFromTheRecord() {
    PacketsModel m;
    m.append({detailRecord(77, "  =>", "DNS")});
    QCOMPARE(cell(m, 0, 0), QString("1"));
    QCOMPARE(cell(m, 0, 2), QString("IP 192.168.7.5"));
    QCOMPARE(cell(m, 0, 5), QString("10:11:12"));
    QCOMPARE(cell(m, 0, PacketsModel::kDirectionColumn), QString("  =>"));
    QCOMPARE(cell(m, 0, PacketsModel::kSizeColumn), QString::number(60 + 77));
    QCOMPARE(cell(m, 0, PacketsModel::kDescriptionColumn), QString("DNS 77"));
    QCOMPARE(cell(m, 0, PacketsModel::kLowLevelColumn), QString("low level 77"));
    QCOMPARE(cell(m, 0, PacketsModel::kDestinationColumn), QString("IP 192.168.7.1"));
  }

  void packetRowColours_data() {
    QTest::addColumn<QString>("mark");
    QTest::addColumn<QColor>("left");
    QTest::addColumn<QColor>("right");
    QTest::addColumn<bool>("whiteBold");
    QTest::newRow("session sent") << "  ->" << QColor(0, 255, 0) << QColor(0, 255, 0) << false;
    QTest::newRow("broadcast sent") << "  >>" << QColor(0, 255, 0) << QColor(255, 255, 0) << false;
    QTest::newRow("error sent") << "  =>" << QColor(0, 255, 0) << QColor(255, 0, 0) << true;
    QTest::newRow("session received") << "<-  " << QColor() << QColor() << false;
    QTest::newRow("broadcast received") << "<<  " << QColor() << QColor(0, 255, 255) << false;
    QTest::newRow("error received") << "<=  " << QColor() << QColor(0, 0, 255) << true;
  }
  void packetRowColours() {
    QFETCH(QString, mark);
    QFETCH(QColor, left);
    QFETCH(QColor, right);
    QFETCH(bool, whiteBold);
    PacketsModel m;
    m.append({detailRecord(1, mark.toStdString())});
    for (int c = 0; c < PacketsModel::kColumns; ++c) {
      const QVariant bg = m.index(0, c).data(Qt::BackgroundRole);
      const QColor expected = c < 5 ? left : right;
      QCOMPARE(bg.isValid() ? bg.value<QColor>() : QColor(), expected);
      if (c >= 5 && c != PacketsModel::kDescriptionColumn && c != PacketsModel::kLowLevelColumn) {
        const QVariant font = m.index(0, c).data(Qt::FontRole);
        QCOMPARE(font.isValid() && font.value<QFont>().bold(), whiteBold);
      }
    }
  }

  void packetsSortedByNumberAcrossARingWrap_data() {
    QTest::addColumn<QList<uint>>("first");   // packet numbers as the agent's ring hands them out
    QTest::addColumn<QList<uint>>("second");  // the next refresh
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("ring wrap") << QList<uint>{134701, 134702, 134808, 134509, 134510, 134700} << QList<uint>{}
                               << QStringList{"134509", "134510", "134700", "134701", "134702", "134808"};
    QTest::newRow("wrap, then newer") << QList<uint>{20, 21, 5, 6} << QList<uint>{40, 30}
                                      << QStringList{"5", "6", "20", "21", "30", "40"};
    QTest::newRow("counter wrap") << QList<uint>{1, 4294967295u, 2, 4294967294u} << QList<uint>{}
                                  << QStringList{"4294967294", "4294967295", "1", "2"};
    QTest::newRow("older refresh") << QList<uint>{50, 60} << QList<uint>{55, 10}
                                   << QStringList{"10", "50", "55", "60"};
  }
  void packetsSortedByNumberAcrossARingWrap() {
    QFETCH(QList<uint>, first);
    QFETCH(QList<uint>, second);
    QFETCH(QStringList, rows);
    PacketsModel m;
    for (const QList<uint>& batch : {first, second}) {
      std::vector<DetailRecord> records;
      for (uint n : batch) records.push_back(detailRecord(n, "<-  "));
      m.append(records);
    }
    QCOMPARE(column(m, PacketsModel::kPktColumn), rows);  // the last row is the newest
  }

  void rowColoursReadInLightAndDarkPalettes_data() {
    QTest::addColumn<QString>("mark");
    for (const char* mark : {"  ->", "  >>", "  =>", "<-  ", "<<  ", "<=  "}) QTest::newRow(mark) << QString(mark);
  }
  void rowColoursReadInLightAndDarkPalettes() {
    QFETCH(QString, mark);
    QPalette light(QColor(240, 240, 240));
    light.setColor(QPalette::Base, Qt::white);
    light.setColor(QPalette::Text, Qt::black);
    QPalette dark(QColor(53, 53, 53));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    PacketsModel m;
    m.append({detailRecord(1, mark.toStdString())});
    for (const QPalette& palette : {light, dark}) {
      for (int c = 0; c < PacketsModel::kColumns; ++c) {
        // What the view paints: the model's colours, else the palette's.
        const QVariant bg = m.index(0, c).data(Qt::BackgroundRole);
        const QVariant fg = m.index(0, c).data(Qt::ForegroundRole);
        const QColor back = bg.isValid() ? bg.value<QColor>() : palette.color(QPalette::Base);
        const QColor text = fg.isValid() ? fg.value<QColor>() : palette.color(QPalette::Text);
        QVERIFY2(bg.isValid() == fg.isValid(), qPrintable(QString::number(c)));
        const double ratio = contrastRatio(text, back);
        QVERIFY2(ratio >= 4.5, qPrintable(QString("column %1: %2 on %3, %4:1").arg(c).arg(text.name(), back.name()).arg(ratio)));
      }
    }
  }

  void contrastRatioOfKnownPairs() {
    QCOMPARE(qRound(contrastRatio(Qt::white, Qt::black) * 10), 210);
    QCOMPARE(qRound(contrastRatio(QColor(255, 0, 0), Qt::white) * 10), 40);  // white on red is too weak
    QCOMPARE(readableTextOn(QColor(255, 0, 0)), QColor(Qt::black));
    QCOMPARE(readableTextOn(QColor(0, 0, 255)), QColor(Qt::white));
    QCOMPARE(readableTextOn(QColor(0, 255, 0)), QColor(Qt::black));
  }

  void adapterRowsShownByMedia_data() {
    QTest::addColumn<QStringList>("media");
    QTest::addColumn<bool>("ethernetShown");
    QTest::addColumn<bool>("tokenRingShown");
    QTest::newRow("no adapter") << QStringList() << false << false;
    QTest::newRow("ethernet") << QStringList({"Ethernet"}) << true << false;
    QTest::newRow("token ring") << QStringList({"Token Ring"}) << false << true;
    QTest::newRow("both") << QStringList({"Token Ring", "Ethernet"}) << true << true;
    QTest::newRow("wan") << QStringList({"WAN"}) << false << false;
  }
  void adapterRowsShownByMedia() {
    QFETCH(QStringList, media);
    QFETCH(bool, ethernetShown);
    QFETCH(bool, tokenRingShown);
    AdapterModel m;
    for (int i = 0; i < media.size(); ++i) {
      const auto record = oidRecord(static_cast<uint32_t>(i + 1), media[i].toLatin1().constData());
      QVERIFY(m.applyRecord(record.data(), record.size()));
    }
    for (int row = 0; row < AdapterModel::kRows; ++row) {
      const bool ethernet = row >= 14 && row <= 22;
      const bool tokenRing = row >= 23;
      const bool shown = ethernet ? ethernetShown : tokenRing ? tokenRingShown : true;
      QVERIFY2(m.rowHidden(row) == !shown, qPrintable(m.label(row)));
    }
    QCOMPARE(m.label(14), QString("Ethernet Receive Error Alignment"));
    QCOMPARE(m.label(23), QString("Token Ring State"));
  }

  void adapterRecordFillsItsColumn() {
    AdapterModel m;
    const auto record = oidRecord(2, "Ethernet");
    QVERIFY(m.applyRecord(record.data(), record.size()));
    QCOMPARE(cell(m, 0, 2), QString("eth0"));
    QCOMPARE(cell(m, 17, 2), QString("7"));  // right-trimmed
    QCOMPARE(cell(m, 0, 1), QString(""));
    QCOMPARE(m.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Adapter #2"));
    auto bad = oidRecord(9, "Ethernet");
    QVERIFY(!m.applyRecord(bad.data(), bad.size()));
    QVERIFY(!m.applyRecord(record.data(), 100));
    m.clearValues();
    QCOMPARE(cell(m, 0, 2), QString(""));
    QVERIFY(m.rowHidden(14));
  }
};

QTEST_MAIN(GridsTest)
#include "grid_models_test.moc"
