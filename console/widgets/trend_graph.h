#pragma once
// TrendGraph: the last iMax values of one counter as bars that scroll from
// right to left, on a scale of equal bands per decade, with a values box of
// total, peak and last value.
//
// The chart is drawn into a surface wider than the visible chart by iMax - 1
// bars. A new value that keeps the scale only moves the visible window one bar
// to the right and draws that one bar (the fast path); after iMax - 1 such
// moves, or when the scale changes, everything is drawn again from the left.
// Vertical grid lines belong to the samples (every iBarInt-th one), so both
// paths give the same picture.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>
#include <QWidget>
#include <utility>
#include <vector>

class QLabel;
class QFrame;
class QFontMetrics;
class QPainter;

namespace veltris::console {

class TrendGraph : public QWidget {
  Q_OBJECT
 public:
  explicit TrendGraph(QWidget* parent = nullptr);

  void setTimeBase(int iMax, int iBarInt, const QString& totalDesc, const QString& peakDesc, const QString& lastDesc);
  void clear();                                      // every value 0, full redraw
  void setValues(const std::vector<float>& values);  // first iMax values, full redraw
  void addValue(float value);                        // append; a negative value only redraws
  // One difference that covers `intervals` bars (a late poll): each gets an
  // equal share. A negative value only redraws.
  void spreadValue(float value, int intervals);
  void drawText(int x, int y, const QString& text);  // on the drawing surface

  bool valuesVisible() const { return valuesVisible_; }
  void setValuesVisible(bool visible);
  void setBackColor(const QColor& color);
  void setBarColor(const QColor& color);
  void setTitle(const QString& title);
  QString title() const;

  // State for the host and for tests.
  int barCount() const { return iMax_; }
  int gridInterval() const { return iBarInt_; }
  int bands() const { return bands_; }
  long long peak() const { return peak_; }
  long long total() const { return total_; }
  float last() const { return last_; }
  std::vector<float> shownValues() const { return {values_.begin(), values_.begin() + iMax_}; }
  QString chartToolTip() const;
  QString valueText(int row) const;  // 0 total, 1 peak, 2 last, as shown
  bool lastDrawWasFast() const { return lastFast_; }
  int fullRedraws() const { return fullRedraws_; }
  // The visible chart as painted.
  QImage chartImage() const;
  QRect chartRect() const;  // the chart inside this widget
  // Without the fast path every update redraws everything (benchmarks, tests).
  void setFastPathEnabled(bool enabled) { fastEnabled_ = enabled; }

  // Pixel geometry, exposed for tests.
  int barWidth() const { return barWidth_; }
  int visibleWidth() const;  // of the chart image: iMax whole bars and the right margin
  int barTop(float value) const;          // first row of a bar of this value (height() of chart if none)
  int gridLineRow(int band) const;        // row of the horizontal line at band k (0 = bottom)

  QSize sizeHint() const override;

  // Hour labels of a day chart: the bar each stands at and its text (none unless iMax is 144 or 72).
  static std::vector<std::pair<int, QString>> hourLabels(int iMax);

  // A text drawn on the chart and the box it takes, in chart image coordinates.
  struct ChartLabel {
    QRect rect;
    QString text;
  };
  // The hour labels that are drawn: one that would touch the label before it is left out.
  std::vector<ChartLabel> hourLabelPlacement() const;
  // The values of the decade lines at the left edge (1, 10, 100, 1K, ...), bottom up,
  // without those that would overlap another label.
  std::vector<ChartLabel> scaleLabelPlacement() const;
  // The value of decade line `band`: 1, 10, 100, 1K, 10K, 100K, 1M, ...
  static QString decadeText(int band);
  // "#,##0", or in K, M, G or T units when that text is wider than `width` pixels.
  static QString fittedNumber(long long value, const QFontMetrics& metrics, int width);
  // Total, peak and last with their descriptions and exact figures (the tooltip texts).
  QString exactFigures() const;
  QString valuesToolTip() const;

 signals:
  void rightClicked();
  void doubleClicked();

 private:
  class Surface;
  friend class Surface;

  void refresh(bool appended);
  void computeValues();
  void fullRedraw();
  void fastDraw();
  void drawBar(QImage& image, int x, float value) const;
  void drawHorizontalLines(QImage& image, int x0, int x1) const;
  void drawHourLabels(QImage& image) const;
  void drawScaleLabels(QPainter& painter) const;
  void drawLabel(QPainter& painter, const ChartLabel& label) const;
  QFont hourFont() const;
  QFont scaleFont() const;
  int barHeight(float value) const;
  void chartResized();

  int iMax_ = 60;
  int iBarInt_ = 10;
  QString totalDesc_, peakDesc_, lastDesc_;
  std::vector<float> values_;  // iMax + 1 slots
  long long peak_ = 0;
  long long total_ = 0;
  float last_ = 0;
  int bands_ = 1;
  int barWidth_ = 1;
  int fastCount_ = 0;           // fast updates since the last full redraw
  unsigned long long appended_ = 0;  // values appended since setTimeBase/setValues: the grid's phase
  bool lastFast_ = false;
  int fullRedraws_ = 0;
  bool fastEnabled_ = true;
  bool valuesVisible_ = true;
  QColor backColor_ = Qt::black;
  QColor barColor_ = Qt::green;
  QColor gridColor_;
  QImage surface_;
  std::vector<ChartLabel> scaleLabels_;  // placed at the last full redraw

  QLabel* lblTitle_;
  Surface* picFrame_;
  QFrame* picValues_;
  QLabel* lblTotalDesc_;
  QLabel* lblTotal_;
  QLabel* lblPeakDesc_;
  QLabel* lblPeak_;
  QLabel* lblLastDesc_;
  QLabel* lblLast_;
};

// "#,##0": 1234567 -> "1,234,567".
QString groupedNumber(long long value);

}  // namespace veltris::console
