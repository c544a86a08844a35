// TrendGraph drawn into its surface: scale, bars, grid lines, hour and decade
// labels, the values box, the fast path against full redraws of the same
// values, and late polls spread over the intervals they cover.
#include <QtTest>

#include "console/widgets/poll_pacer.h"
#include "console/widgets/trend_graph.h"

using veltris::console::PollPacer;
using veltris::console::TrendGraph;

namespace {

const QColor kBar(0, 255, 0);
const QColor kBack(0, 0, 0);

// A shown graph with a chart of known size.
struct Graph {
  explicit Graph(int iMax = 60, int iBarInt = 10, int width = 420, int height = 260) {
    widget.setBackColor(kBack);
    widget.setBarColor(kBar);
    widget.resize(width, height);
    widget.show();
    widget.setTimeBase(iMax, iBarInt, QStringLiteral("Total/Min"), QStringLiteral("Peak/Sec"), QStringLiteral("Last/Sec"));
  }
  // Column in the middle of shown bar `slot`.
  int column(int slot) const { return slot * widget.barWidth() + widget.barWidth() / 2; }
  TrendGraph widget;
};

bool isBar(const QImage& image, int x, int y) { return QColor(image.pixel(x, y)) == kBar; }
// Label text: light on the black background, also where it stands over a bar.
bool isText(const QImage& image, int x, int y) {
  QColor c(image.pixel(x, y));
  return c.red() > 220 && c.green() > 220 && c.blue() > 220;  // grid lines are mid grey
}

int textPixels(const QImage& image, const QRect& rect) {
  int n = 0;
  const QRect r = rect.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += isText(image, x, y) ? 1 : 0;
  return n;
}

// Bar-coloured rows in column x.
int barRows(const QImage& image, int x) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y) n += isBar(image, x, y) ? 1 : 0;
  return n;
}

// First row from the top where column x is bar-coloured (height when none).
int firstBarRow(const QImage& image, int x) {
  for (int y = 0; y < image.height(); ++y) {
    if (isBar(image, x, y)) return y;
  }
  return image.height();
}

}  // namespace

class TrendGraphTest : public QObject {
  Q_OBJECT
 private slots:
  void scaleFollowsThePeak_data();
  void scaleFollowsThePeak();
  void elevenStandsJustAboveTheMiddleLine();
  void allZeroDrawsNoBar();
  void hourLabelsOfADay_data();
  void hourLabelsOfADay();
  void fastPathGivesTheFullRedrawsImage();
  void negativeUpdateOnlyRedraws();
  void valuesBoxAndTooltip();
  void newArrayAndReInit();
  void everyValueAboveZeroIsVisible_data();
  void everyValueAboveZeroIsVisible();
  void hourLabelsOverTheBarsNeverOverlap_data();
  void hourLabelsOverTheBarsNeverOverlap();
  void decadeValuesAtTheLeftEdge_data();
  void decadeValuesAtTheLeftEdge();
  void wideNumbersTakeUnits_data();
  void wideNumbersTakeUnits();
  void lateValueSpreadsOverItsIntervals();
  void pacerCountsIntervals_data();
  void pacerCountsIntervals();
};

void TrendGraphTest::scaleFollowsThePeak_data() {
  QTest::addColumn<float>("peak");
  QTest::addColumn<int>("bands");
  QTest::addColumn<bool>("fills");  // the peak's bar reaches the top line
  QTest::newRow("0") << 0.0f << 1 << false;
  QTest::newRow("1") << 1.0f << 1 << false;
  QTest::newRow("10") << 10.0f << 1 << true;
  QTest::newRow("11") << 11.0f << 2 << false;
  QTest::newRow("100") << 100.0f << 2 << true;
  QTest::newRow("101") << 101.0f << 3 << false;
  QTest::newRow("1000") << 1000.0f << 3 << true;
  QTest::newRow("1001") << 1001.0f << 4 << false;
  QTest::newRow("123456789") << 123456789.0f << 9 << false;
}

void TrendGraphTest::scaleFollowsThePeak() {
  QFETCH(float, peak);
  QFETCH(int, bands);
  QFETCH(bool, fills);
  Graph g;
  g.widget.addValue(peak / 2);
  g.widget.addValue(peak);
  QCOMPARE(g.widget.bands(), bands);
  QCOMPARE(g.widget.peak(), static_cast<long long>(peak));
  const QImage image = g.widget.chartImage();
  // Horizontal grid lines at every band, bottom to top, drawn over the bars.
  QCOMPARE(g.widget.gridLineRow(0), image.height() - 1);
  QCOMPARE(g.widget.gridLineRow(bands), 0);
  const int newest = g.column(59);
  const int top = firstBarRow(image, newest);
  if (fills) {
    QCOMPARE(top, 1);
  } else if (peak > 1) {
    QVERIFY2(top > 1 && top < image.height(), qPrintable(QString::number(top)));
    // A value just past a decade stands just above that decade's line.
    QVERIFY(top <= g.widget.gridLineRow(bands - 1) + 1);
  } else if (peak == 1) {
    QCOMPARE(top, image.height() - 2);  // one row above the bottom line
  } else {
    QCOMPARE(top, image.height());
  }
}

void TrendGraphTest::elevenStandsJustAboveTheMiddleLine() {
  Graph g;
  g.widget.addValue(10);
  g.widget.addValue(11);
  QCOMPARE(g.widget.bands(), 2);
  const QImage image = g.widget.chartImage();
  const int middle = g.widget.gridLineRow(1);
  QVERIFY(std::abs(middle - image.height() / 2) <= 1);
  // The line is drawn over the bars; 10 reaches it, 11 stands above it.
  QCOMPARE(firstBarRow(image, g.column(58)), middle + 1);
  int top11 = firstBarRow(image, g.column(59));
  QVERIFY2(top11 < middle && top11 >= middle - 3, qPrintable(QString::number(top11)));
  QVERIFY(!isBar(image, g.column(59), middle));  // grid line on top of the bar
}

void TrendGraphTest::allZeroDrawsNoBar() {
  Graph g;
  for (int i = 0; i < 5; ++i) g.widget.addValue(0);
  g.widget.addValue(0.5f);  // below 1: no bar either
  QCOMPARE(g.widget.peak(), 1LL);
  g.widget.clear();
  QCOMPARE(g.widget.peak(), 0LL);
  QCOMPARE(g.widget.bands(), 1);
  const QImage image = g.widget.chartImage();
  for (int x = 0; x < image.width(); ++x) QCOMPARE(firstBarRow(image, x), image.height());
  for (int row = 0; row < 3; ++row) QCOMPARE(g.widget.valueText(row), QStringLiteral("0"));
}

void TrendGraphTest::hourLabelsOfADay_data() {
  QTest::addColumn<int>("bars");
  QTest::addColumn<QStringList>("labels");
  QTest::newRow("24 hours") << 144
                            << QStringList{"0", "2", "4", "6", "8", "10", "12", "2", "4", "6", "8", "10"};
  QTest::newRow("6am to 6pm") << 72
                              << QStringList{"6", "7", "8", "9", "10", "11", "12", "1", "2", "3", "4", "5"};
  QTest::newRow("real time") << 60 << QStringList{};
}

void TrendGraphTest::hourLabelsOfADay() {
  QFETCH(int, bars);
  QFETCH(QStringList, labels);
  Graph g(bars, bars == 60 ? 10 : 6, 1000);
  g.widget.setValues(std::vector<float>(bars, 0.0f));
  const auto placed = TrendGraph::hourLabels(bars);
  QStringList texts;
  for (const auto& [bar, text] : placed) texts << text;
  QCOMPARE(texts, labels);
  // Labels stand on the vertical line of their hour: every 12 or 6 bars from the left.
  for (size_t i = 0; i < placed.size(); ++i) QCOMPARE(placed[i].first, static_cast<int>(i) * (bars == 144 ? 12 : 6));
  // Text pixels near the bottom of a labelled line, none at an unlabelled one.
  const QImage image = g.widget.chartImage();
  auto textNear = [&](int bar) {
    int x0 = std::max(0, bar * g.widget.barWidth() - 8), x1 = bar * g.widget.barWidth() + 10;
    for (int y = image.height() - 14; y < image.height(); ++y)
      for (int x = x0; x < x1 && x < image.width(); ++x)
        if (isText(image, x, y)) return true;
    return false;
  };
  if (bars == 144) {
    QVERIFY(textNear(12));
    QVERIFY(textNear(72));
    QVERIFY(!textNear(18));  // 3 o'clock: a line without a label
  } else if (bars == 72) {
    QVERIFY(textNear(6));
    QVERIFY(textNear(36));
  } else {
    for (int x = 0; x < image.width(); ++x) QCOMPARE(firstBarRow(image, x), image.height());
  }
}

void TrendGraphTest::fastPathGivesTheFullRedrawsImage() {
  Graph fast, full;
  full.widget.setFastPathEnabled(false);
  // Steady values, a scale change up and down, more than iMax updates in all.
  std::vector<float> values;
  for (int i = 0; i < 150; ++i) values.push_back(static_cast<float>((i * 37) % 9 + 1));
  values.push_back(500);
  for (int i = 0; i < 70; ++i) values.push_back(static_cast<float>((i * 53) % 90 + 5));
  int step = 0;
  for (float v : values) {
    fast.widget.addValue(v);
    full.widget.addValue(v);
    QVERIFY2(fast.widget.chartImage() == full.widget.chartImage(), qPrintable(QStringLiteral("update %1").arg(step)));
    ++step;
  }
  QVERIFY(fast.widget.lastDrawWasFast());
  // After the first full redraw at most one in iMax - 1 updates plus the scale changes redraw everything.
  QVERIFY2(fast.widget.fullRedraws() < 12, qPrintable(QString::number(fast.widget.fullRedraws())));
  QVERIFY(full.widget.fullRedraws() > static_cast<int>(values.size()));
}

void TrendGraphTest::negativeUpdateOnlyRedraws() {
  Graph g;
  for (float v : {3.0f, 7.0f, 250.0f}) g.widget.addValue(v);
  const auto before = g.widget.shownValues();
  const QImage image = g.widget.chartImage();
  const int redraws = g.widget.fullRedraws();
  g.widget.addValue(-1);
  QCOMPARE(g.widget.shownValues(), before);
  QCOMPARE(g.widget.last(), 250.0f);
  QCOMPARE(g.widget.fullRedraws(), redraws + 1);
  QVERIFY(!g.widget.lastDrawWasFast());
  QVERIFY(g.widget.chartImage() == image);
}

void TrendGraphTest::valuesBoxAndTooltip() {
  Graph g;
  for (float v : {1000.0f, 234.0f, 1234567.0f, 234.0f}) g.widget.addValue(v);
  QCOMPARE(g.widget.valueText(0), QStringLiteral("1,236,035"));
  QCOMPARE(g.widget.valueText(1), QStringLiteral("1,234,567"));
  QCOMPARE(g.widget.valueText(2), QStringLiteral("234"));
  QCOMPARE(g.widget.chartToolTip(), QString());  // values box shown
  g.widget.setValuesVisible(false);
  QCOMPARE(g.widget.chartToolTip(),
           QStringLiteral("Total/Min 1,236,035,  Peak/Sec 1,234,567,  Last/Sec 234"));
  g.widget.setTimeBase(144, 6, QStringLiteral("Total/Day"), QStringLiteral("Peak/10_Mins"), QString());
  g.widget.setValues({5, 0, 12});
  QCOMPARE(g.widget.chartToolTip(), QStringLiteral("Total/Day 17,  Peak/10_Mins 12"));
}

void TrendGraphTest::newArrayAndReInit() {
  Graph g(144, 6);
  std::vector<float> day(150, 2.0f);
  day[143] = 99;
  g.widget.setValues(day);  // only the first iMax count
  QCOMPARE(g.widget.total(), 143LL * 2 + 99);
  QCOMPARE(g.widget.peak(), 99LL);
  QCOMPARE(g.widget.bands(), 2);
  QVERIFY(!g.widget.lastDrawWasFast());
  g.widget.clear();
  QCOMPARE(g.widget.total(), 0LL);
  QCOMPARE(g.widget.shownValues(), std::vector<float>(144, 0.0f));
}

void TrendGraphTest::everyValueAboveZeroIsVisible_data() {
  QTest::addColumn<QList<float>>("values");  // fed in order; the last three are checked
  QTest::addColumn<QList<int>>("visible");   // the last three slots: 1 bar, 0 none
  QTest::newRow("0") << QList<float>{0, 0, 0} << QList<int>{0, 0, 0};
  QTest::newRow("1") << QList<float>{0, 0, 1} << QList<int>{0, 0, 1};
  QTest::newRow("2") << QList<float>{0, 0, 2} << QList<int>{0, 0, 1};
  QTest::newRow("10") << QList<float>{0, 0, 10} << QList<int>{0, 0, 1};
  QTest::newRow("0, 1, 0") << QList<float>{0, 1, 0} << QList<int>{0, 1, 0};
  QTest::newRow("1 beside a million") << QList<float>{1000000, 1, 2} << QList<int>{1, 1, 1};
  QTest::newRow("a share below 1") << QList<float>{0, 0.5f, 0} << QList<int>{0, 1, 0};
}

void TrendGraphTest::everyValueAboveZeroIsVisible() {
  QFETCH(QList<float>, values);
  QFETCH(QList<int>, visible);
  for (bool fast : {true, false}) {
    Graph g;
    g.widget.setFastPathEnabled(fast);
    for (float v : values) g.widget.addValue(v);
    const QImage image = g.widget.chartImage();
    for (int i = 0; i < 3; ++i) {
      const int rows = barRows(image, g.column(57 + i));
      QVERIFY2((rows > 0) == (visible[i] == 1), qPrintable(QStringLiteral("slot %1: %2 rows").arg(i).arg(rows)));
    }
  }
  // Taller for more: 1 < 2 < 10 on one scale.
  Graph g;
  for (float v : {1.0f, 2.0f, 10.0f}) g.widget.addValue(v);
  const QImage image = g.widget.chartImage();
  QVERIFY(barRows(image, g.column(57)) < barRows(image, g.column(58)));
  QVERIFY(barRows(image, g.column(58)) < barRows(image, g.column(59)));
}

void TrendGraphTest::hourLabelsOverTheBarsNeverOverlap_data() {
  QTest::addColumn<int>("bars");
  QTest::addColumn<int>("width");
  QTest::addColumn<int>("least");  // labels that must remain
  QTest::newRow("24 hours, wide") << 144 << 1000 << 12;
  QTest::newRow("24 hours, narrow") << 144 << 300 << 4;
  QTest::newRow("12 hours, wide") << 72 << 1000 << 12;
  QTest::newRow("12 hours, narrow") << 72 << 300 << 4;
  QTest::newRow("12 hours, tiny") << 72 << 180 << 2;
}

void TrendGraphTest::hourLabelsOverTheBarsNeverOverlap() {
  QFETCH(int, bars);
  QFETCH(int, width);
  QFETCH(int, least);
  Graph g(bars, 6, width);
  g.widget.setValues(std::vector<float>(bars, 10.0f));  // every bar fills the chart
  const auto labels = g.widget.hourLabelPlacement();
  QVERIFY2(static_cast<int>(labels.size()) >= least, qPrintable(QString::number(labels.size())));
  QCOMPARE(labels.front().text, QString(bars == 144 ? "0" : "6"));
  const QImage image = g.widget.chartImage();
  for (size_t i = 0; i < labels.size(); ++i) {
    QVERIFY(image.rect().contains(labels[i].rect));
    // Apart by a digit's width at least, so that two labels never read as one number.
    if (i > 0) QVERIFY2(labels[i - 1].rect.right() + 4 < labels[i].rect.left(), qPrintable(labels[i].text));
    // Drawn after the bars: its text shows where the bars are.
    QVERIFY2(textPixels(image, labels[i].rect) > 0, qPrintable(labels[i].text));
  }
  // A left-out label is one that would have touched its neighbour.
  QStringList all;
  for (const auto& [bar, text] : TrendGraph::hourLabels(bars)) all << text;
  if (static_cast<qsizetype>(labels.size()) == all.size()) {
    QStringList shown;
    for (const auto& label : labels) shown << label.text;
    QCOMPARE(shown, all);
  }
}

void TrendGraphTest::decadeValuesAtTheLeftEdge_data() {
  QTest::addColumn<float>("peak");
  QTest::addColumn<QStringList>("texts");
  QTest::newRow("peak 0") << 0.0f << QStringList{"1", "10"};
  QTest::newRow("peak 1000") << 1000.0f << QStringList{"1", "10", "100", "1K"};
  QTest::newRow("peak 1001") << 1001.0f << QStringList{"1", "10", "100", "1K", "10K"};
  QTest::newRow("peak 2 million") << 2000000.0f << QStringList{"1", "10", "100", "1K", "10K", "100K", "1M", "10M"};
}

void TrendGraphTest::decadeValuesAtTheLeftEdge() {
  QFETCH(float, peak);
  QFETCH(QStringList, texts);
  Graph g(60, 10, 420, 400);  // room for every decade
  g.widget.addValue(peak);
  QCOMPARE(g.widget.bands() + 1, texts.size());
  const auto labels = g.widget.scaleLabelPlacement();
  QStringList shown;
  for (const auto& label : labels) shown << label.text;
  QCOMPARE(shown, texts);
  const QImage image = g.widget.chartImage();
  for (int band = 0; band < static_cast<int>(labels.size()); ++band) {
    const QRect& r = labels[band].rect;
    QCOMPARE(r.left(), 2);
    // Beside its line: the line's row is within the text or next to it.
    QVERIFY(g.widget.gridLineRow(band) >= r.top() - 1 && g.widget.gridLineRow(band) <= r.bottom() + 1);
    QVERIFY(textPixels(image, r) > 0);
  }
  QCOMPARE(TrendGraph::decadeText(5), QStringLiteral("100K"));
  QCOMPARE(TrendGraph::decadeText(9), QStringLiteral("1G"));
  // A short chart keeps the labels apart by leaving some out.
  Graph small(60, 10, 420, 60);
  small.widget.addValue(2e9f);
  const auto few = small.widget.scaleLabelPlacement();
  QVERIFY(!few.empty());
  for (size_t i = 1; i < few.size(); ++i) QVERIFY(few[i].rect.bottom() < few[i - 1].rect.top());
}

void TrendGraphTest::wideNumbersTakeUnits_data() {
  QTest::addColumn<qlonglong>("value");
  QTest::addColumn<QString>("text");
  QTest::newRow("fits") << 999999999LL << "999,999,999";
  QTest::newRow("thousands") << 7500000000LL << "7,500,000K";
  QTest::newRow("millions") << 1234567890123LL << "1,234,568M";
}

void TrendGraphTest::wideNumbersTakeUnits() {
  QFETCH(qlonglong, value);
  QFETCH(QString, text);
  Graph g;
  const QFontMetrics metrics = g.widget.fontMetrics();
  const int width = metrics.horizontalAdvance(QStringLiteral("000,000,000")) + 2;
  QCOMPARE(TrendGraph::fittedNumber(value, metrics, width), text);
  // In the values box, with the exact figures in its tooltip.
  g.widget.addValue(static_cast<float>(value));
  QCOMPARE(g.widget.valueText(1), TrendGraph::fittedNumber(g.widget.peak(), metrics, width));
  QVERIFY(g.widget.valuesToolTip().contains(QStringLiteral("Peak/Sec ") + veltris::console::groupedNumber(g.widget.peak())));
}

void TrendGraphTest::lateValueSpreadsOverItsIntervals() {
  Graph g;
  g.widget.addValue(4);
  g.widget.spreadValue(30, 3);  // one reading for three intervals
  auto shown = g.widget.shownValues();
  QCOMPARE(std::vector<float>(shown.end() - 4, shown.end()), (std::vector<float>{4, 10, 10, 10}));
  QCOMPARE(g.widget.peak(), 10LL);
  QCOMPARE(g.widget.total(), 34LL);
  g.widget.spreadValue(-5, 3);  // counters went back: redraw only
  QCOMPARE(g.widget.shownValues(), shown);
  g.widget.spreadValue(7, 1);
  QCOMPARE(g.widget.last(), 7.0f);
  QVERIFY(g.widget.lastDrawWasFast());
  // A gap longer than the chart: every bar takes the same share.
  g.widget.spreadValue(1200, 100);
  QCOMPARE(g.widget.shownValues(), std::vector<float>(60, 12.0f));
  QCOMPARE(g.widget.total(), 720LL);
  // The picture equals one fed bar by bar (65 values in all: the same grid phase).
  Graph same;
  for (int i = 0; i < 65; ++i) same.widget.addValue(12);
  QVERIFY(same.widget.chartImage() == g.widget.chartImage());
}

void TrendGraphTest::pacerCountsIntervals_data() {
  QTest::addColumn<int>("interval");
  QTest::addColumn<QList<qint64>>("readings");  // clock at each reading after the baseline at 0
  QTest::addColumn<QList<int>>("intervals");
  QTest::newRow("on time") << 1000 << QList<qint64>{1000, 2000, 3000} << QList<int>{1, 1, 1};
  QTest::newRow("jitter") << 1000 << QList<qint64>{1400, 2000, 3450} << QList<int>{1, 1, 1};
  QTest::newRow("too soon") << 1000 << QList<qint64>{100, 1100} << QList<int>{1, 1};
  QTest::newRow("skipped ticks") << 1000 << QList<qint64>{1000, 3000, 14000} << QList<int>{1, 2, 11};
  QTest::newRow("10 seconds") << 10000 << QList<qint64>{10000, 41000} << QList<int>{1, 3};
}

void TrendGraphTest::pacerCountsIntervals() {
  QFETCH(int, interval);
  QFETCH(QList<qint64>, readings);
  QFETCH(QList<int>, intervals);
  qint64 now = 0;
  PollPacer pacer;
  pacer.setClock([&now] { return now; });
  pacer.restart(interval);
  QCOMPARE(pacer.readingTaken(), 0);  // no baseline yet: nothing to draw
  now = 0;
  pacer.restart(interval);
  pacer.baselineTaken();
  for (int i = 0; i < readings.size(); ++i) {
    now = readings[i];
    QCOMPARE(pacer.readingTaken(), intervals[i]);
  }
  // A new time base starts afresh, however long ago the last reading was.
  pacer.restart(interval);
  now += 100 * interval;
  QCOMPARE(pacer.readingTaken(), 0);
  now += interval;
  QCOMPARE(pacer.readingTaken(), 1);
}

QTEST_MAIN(TrendGraphTest)
#include "trend_graph_test.moc"
