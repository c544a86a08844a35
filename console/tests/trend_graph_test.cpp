// TrendGraph drawn into its surface: scale, bars, grid lines, hour labels, the
// values box, and the fast path against full redraws of the same values.
#include <QtTest>

#include "console/widgets/trend_graph.h"

using veltris::console::TrendGraph;

namespace {

const QColor kBar(0, 255, 0);
const QColor kBack(0, 0, 0);

// A shown graph with a chart of known size.
struct Graph {
  explicit Graph(int iMax = 60, int iBarInt = 10, int width = 420) {
    widget.setBackColor(kBack);
    widget.setBarColor(kBar);
    widget.resize(width, 260);
    widget.show();
    widget.Init(iMax, iBarInt, QStringLiteral("Total/Min"), QStringLiteral("Peak/Sec"), QStringLiteral("Last/Sec"));
  }
  // Column in the middle of shown bar `slot`.
  int column(int slot) const { return slot * widget.barWidth() + widget.barWidth() / 2; }
  TrendGraph widget;
};

bool isBar(const QImage& image, int x, int y) { return QColor(image.pixel(x, y)) == kBar; }
// Antialiased text in the bar colour.
bool isText(const QImage& image, int x, int y) {
  QColor c(image.pixel(x, y));
  return c.green() > 60 && c.red() < 40 && c.blue() < 40;
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
  g.widget.Update(peak / 2);
  g.widget.Update(peak);
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
  } else {
    QCOMPARE(top, image.height());  // values below 2 have no height
  }
}

void TrendGraphTest::elevenStandsJustAboveTheMiddleLine() {
  Graph g;
  g.widget.Update(10);
  g.widget.Update(11);
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
  for (int i = 0; i < 5; ++i) g.widget.Update(0);
  g.widget.Update(0.5f);  // below 1: no bar either
  QCOMPARE(g.widget.peak(), 1LL);
  g.widget.ReInit();
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
  g.widget.NewArray(std::vector<float>(bars, 0.0f));
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
    fast.widget.Update(v);
    full.widget.Update(v);
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
  for (float v : {3.0f, 7.0f, 250.0f}) g.widget.Update(v);
  const auto before = g.widget.shownValues();
  const QImage image = g.widget.chartImage();
  const int redraws = g.widget.fullRedraws();
  g.widget.Update(-1);
  QCOMPARE(g.widget.shownValues(), before);
  QCOMPARE(g.widget.last(), 250.0f);
  QCOMPARE(g.widget.fullRedraws(), redraws + 1);
  QVERIFY(!g.widget.lastDrawWasFast());
  QVERIFY(g.widget.chartImage() == image);
}

void TrendGraphTest::valuesBoxAndTooltip() {
  Graph g;
  for (float v : {1000.0f, 234.0f, 1234567.0f, 234.0f}) g.widget.Update(v);
  QCOMPARE(g.widget.valueText(0), QStringLiteral("1,236,035"));
  QCOMPARE(g.widget.valueText(1), QStringLiteral("1,234,567"));
  QCOMPARE(g.widget.valueText(2), QStringLiteral("234"));
  QCOMPARE(g.widget.chartToolTip(), QString());  // values box shown
  g.widget.setPicValuesVisible(false);
  QCOMPARE(g.widget.chartToolTip(),
           QStringLiteral("Total/Min 1,236,035,  Peak/Sec 1,234,567,  Last/Sec 234"));
  g.widget.Init(144, 6, QStringLiteral("Total/Day"), QStringLiteral("Peak/10_Mins"), QString());
  g.widget.NewArray({5, 0, 12});
  QCOMPARE(g.widget.chartToolTip(), QStringLiteral("Total/Day 17,  Peak/10_Mins 12"));
}

void TrendGraphTest::newArrayAndReInit() {
  Graph g(144, 6);
  std::vector<float> day(150, 2.0f);
  day[143] = 99;
  g.widget.NewArray(day);  // only the first iMax count
  QCOMPARE(g.widget.total(), 143LL * 2 + 99);
  QCOMPARE(g.widget.peak(), 99LL);
  QCOMPARE(g.widget.bands(), 2);
  QVERIFY(!g.widget.lastDrawWasFast());
  g.widget.ReInit();
  QCOMPARE(g.widget.total(), 0LL);
  QCOMPARE(g.widget.shownValues(), std::vector<float>(144, 0.0f));
}

QTEST_MAIN(TrendGraphTest)
#include "trend_graph_test.moc"
