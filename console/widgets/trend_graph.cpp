#include "console/widgets/trend_graph.h"

#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace veltris::console {
namespace {

// 100 twips of room right of the bars, at 15 twips a pixel.
constexpr int kRightMargin = 7;
constexpr int kTwoDigitLabelShift = 7;  // 100 twips
constexpr int kOneDigitLabelShift = 3;  // 50 twips
// A value above zero is at least this high: one row shows above the bottom grid line.
constexpr int kMinBarHeight = 2;
constexpr int kLabelGap = 2;       // least room between two labels
constexpr char kWidestValue[] = "000,000,000";

int decimalDigits(long long n) {
  int digits = 1;
  for (n = std::llabs(n); n >= 10; n /= 10) ++digits;
  return digits;
}

int bandsFor(long long peak) { return peak <= 0 ? 1 : decimalDigits(peak - 1); }

}  // namespace

QString TrendGraph::fittedNumber(long long value, const QFontMetrics& metrics, int width) {
  QString text = groupedNumber(value);
  static const char* const kUnits[] = {"K", "M", "G", "T"};
  double scaled = static_cast<double>(value);
  for (const char* unit : kUnits) {
    if (metrics.horizontalAdvance(text) <= width) break;
    scaled /= 1000.0;
    text = groupedNumber(std::llround(scaled)) + QLatin1String(unit);
  }
  return text;
}

QString groupedNumber(long long value) {
  QString digits = QString::number(std::llabs(value));
  for (int i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, QLatin1Char(','));
  return value < 0 ? QStringLiteral("-") + digits : digits;
}

// The clipping frame and its drawing surface: shows the visible part of the surface image.
class TrendGraph::Surface : public QWidget {
 public:
  explicit Surface(TrendGraph* graph) : QWidget(graph), graph_(graph) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(60, 40);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QImage& s = graph_->surface_;
    if (s.isNull()) {
      p.fillRect(rect(), graph_->backColor_);
      return;
    }
    // Whole bars rarely fill the frame exactly: the chart is stretched to it.
    p.drawImage(rect(), s, QRect(graph_->fastCount_ * graph_->barWidth_, 0, graph_->visibleWidth(), s.height()));
    graph_->drawScaleLabels(p);  // they stay at the left edge while the bars scroll
  }
  void resizeEvent(QResizeEvent*) override { graph_->chartResized(); }
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() == Qt::RightButton) emit graph_->rightClicked();
  }
  void mouseDoubleClickEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton) emit graph_->doubleClicked();
  }

 private:
  TrendGraph* graph_;
};

TrendGraph::TrendGraph(QWidget* parent) : QWidget(parent) {
  gridColor_ = QApplication::palette().color(QPalette::Mid);  // the scroll-bar track colour
  lblTitle_ = new QLabel(this);
  QFont titleFont(QStringLiteral("Arial"));
  titleFont.setStyleHint(QFont::SansSerif);
  titleFont.setBold(true);
  lblTitle_->setFont(titleFont);
  picFrame_ = new Surface(this);
  picValues_ = new QFrame(this);
  picValues_->setFrameShape(QFrame::StyledPanel);
  auto* values = new QGridLayout(picValues_);
  values->setContentsMargins(4, 2, 4, 2);
  values->setVerticalSpacing(1);
  QLabel** rows[3][2] = {{&lblTotalDesc_, &lblTotal_}, {&lblPeakDesc_, &lblPeak_}, {&lblLastDesc_, &lblLast_}};
  for (int r = 0; r < 3; ++r) {
    *rows[r][0] = new QLabel(picValues_);
    *rows[r][1] = new QLabel(QStringLiteral("0"), picValues_);
    (*rows[r][1])->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // A fixed width: wider numbers switch to units rather than squeeze the chart.
    (*rows[r][1])->setFixedWidth(fontMetrics().horizontalAdvance(QLatin1String(kWidestValue)) + 2);
    values->addWidget(*rows[r][0], r * 2, 0);
    values->addWidget(*rows[r][1], r * 2 + 1, 0);
  }
  values->setRowStretch(6, 1);
  auto* body = new QHBoxLayout;
  body->setContentsMargins(0, 0, 0, 0);
  body->setSpacing(3);
  body->addWidget(picFrame_, 1);
  body->addWidget(picValues_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(1);
  layout->addWidget(lblTitle_);
  layout->addLayout(body, 1);
  setTimeBase(60, 10, QString(), QString(), QString());
}

QSize TrendGraph::sizeHint() const { return {300, 130}; }

void TrendGraph::setTimeBase(int iMax, int iBarInt, const QString& totalDesc, const QString& peakDesc,
                      const QString& lastDesc) {
  iMax_ = std::max(1, iMax);
  iBarInt_ = std::max(1, iBarInt);
  totalDesc_ = totalDesc;
  peakDesc_ = peakDesc;
  lastDesc_ = lastDesc;
  lblTotalDesc_->setText(totalDesc);
  lblPeakDesc_->setText(peakDesc);
  lblLastDesc_->setText(lastDesc);
  lblLastDesc_->setVisible(!lastDesc.isEmpty());
  lblLast_->setVisible(!lastDesc.isEmpty());
  values_.assign(static_cast<size_t>(iMax_) + 1, 0.0f);
  clear();
}

void TrendGraph::clear() {
  std::fill(values_.begin(), values_.end(), 0.0f);
  appended_ = 0;
  refresh(false);
}

void TrendGraph::setValues(const std::vector<float>& values) {
  for (int i = 0; i < iMax_; ++i) values_[i] = i < static_cast<int>(values.size()) ? values[i] : 0.0f;
  appended_ = 0;
  refresh(false);
}

void TrendGraph::addValue(float value) {
  bool appended = value >= 0;
  if (appended) {
    values_[iMax_] = value;
    std::copy(values_.begin() + 1, values_.end(), values_.begin());
    ++appended_;
  }
  refresh(appended);
}

void TrendGraph::spreadValue(float value, int intervals) {
  if (value < 0 || intervals <= 1) {
    addValue(value);
    return;
  }
  const float share = value / static_cast<float>(intervals);
  const int bars = std::min(intervals, iMax_);
  for (int i = 0; i < bars; ++i) {
    values_[iMax_] = share;
    std::copy(values_.begin() + 1, values_.end(), values_.begin());
  }
  appended_ += static_cast<unsigned long long>(bars);
  refresh(false);  // more than one new bar: no fast path
}

void TrendGraph::drawText(int x, int y, const QString& text) {
  if (surface_.isNull()) return;
  QPainter p(&surface_);
  p.setPen(barColor_);
  p.drawText(fastCount_ * barWidth_ + x, y, text);
  picFrame_->update();
}

void TrendGraph::setValuesVisible(bool visible) {
  valuesVisible_ = visible;
  picValues_->setVisible(visible);
  picFrame_->setToolTip(chartToolTip());
}

void TrendGraph::setBackColor(const QColor& color) {
  backColor_ = color;
  fullRedraw();
}

void TrendGraph::setBarColor(const QColor& color) {
  barColor_ = color;
  fullRedraw();
}

void TrendGraph::setTitle(const QString& title) { lblTitle_->setText(title); }
QString TrendGraph::title() const { return lblTitle_->text(); }

QString TrendGraph::valueText(int row) const {
  const QLabel* labels[] = {lblTotal_, lblPeak_, lblLast_};
  return labels[std::clamp(row, 0, 2)]->text();
}

QString TrendGraph::chartToolTip() const { return valuesVisible_ ? QString() : exactFigures(); }

QString TrendGraph::valuesToolTip() const { return exactFigures(); }

QString TrendGraph::exactFigures() const {
  QString tip = totalDesc_ + QLatin1Char(' ') + groupedNumber(total_) + QStringLiteral(",  ") + peakDesc_ +
                QLatin1Char(' ') + groupedNumber(peak_);
  if (!lastDesc_.isEmpty())
    tip += QStringLiteral(",  ") + lastDesc_ + QLatin1Char(' ') + groupedNumber(std::llround(last_));
  return tip;
}

void TrendGraph::computeValues() {
  double sum = 0;
  float top = 0;
  for (int i = 0; i < iMax_; ++i) {
    sum += values_[i];
    top = std::max(top, values_[i]);
  }
  peak_ = std::llround(top);
  total_ = std::llround(sum);
  last_ = values_[iMax_ - 1];
  const QFontMetrics metrics = lblTotal_->fontMetrics();
  const int width = lblTotal_->minimumWidth();
  lblTotal_->setText(fittedNumber(total_, metrics, width));
  lblPeak_->setText(fittedNumber(peak_, metrics, width));
  lblLast_->setText(fittedNumber(std::llround(last_), metrics, width));
  picFrame_->setToolTip(chartToolTip());
  picValues_->setToolTip(valuesToolTip());
}

void TrendGraph::refresh(bool appended) {
  computeValues();
  int bands = bandsFor(peak_);
  bool fast = appended && fastEnabled_ && bands == bands_ && fastCount_ < iMax_ - 1 && !surface_.isNull() &&
              surface_.height() == picFrame_->height();
  bands_ = bands;
  if (fast) {
    fastDraw();
  } else {
    fullRedraw();
  }
}

int TrendGraph::barHeight(float value) const {
  if (!(value > 0.0f)) return 0;
  const int h = picFrame_->height();
  if (value < 1.0f) return std::min(kMinBarHeight, h);  // a share of a late poll
  const double bandHeight = static_cast<double>(h) / bands_;
  int d = decimalDigits(static_cast<long long>(std::floor(value - 1.0)));
  double low = std::pow(10.0, d - 1), high = std::pow(10.0, d);
  double height = bandHeight * ((d - 1) + (value - low) / (high - low));
  return std::clamp(static_cast<int>(std::lround(height)), std::min(kMinBarHeight, h), h);
}

int TrendGraph::barTop(float value) const { return picFrame_->height() - barHeight(value); }

int TrendGraph::gridLineRow(int band) const {
  const int h = picFrame_->height();
  int y = h - static_cast<int>(std::lround(band * static_cast<double>(h) / bands_));
  return std::clamp(y, 0, h - 1);
}

void TrendGraph::drawBar(QImage& image, int x, float value) const {
  int h = barHeight(value);
  if (h <= 0) return;
  QPainter p(&image);
  p.fillRect(QRect(x, image.height() - h, barWidth_, h), barColor_);
}

void TrendGraph::drawHorizontalLines(QImage& image, int x0, int x1) const {
  QPainter p(&image);
  p.setPen(gridColor_);
  for (int k = 0; k <= bands_; ++k) {
    int y = gridLineRow(k);
    p.drawLine(x0, y, x1 - 1, y);
  }
}

std::vector<std::pair<int, QString>> TrendGraph::hourLabels(int iMax) {
  std::vector<std::pair<int, QString>> labels;
  if (iMax != 144 && iMax != 72) return labels;
  // 144 bars: every second hour from 0; 72 bars: every hour from 6. A 12-hour clock.
  const int step = iMax == 144 ? 12 : 6;
  const int firstHour = iMax == 144 ? 0 : 6;
  const int hoursPerLabel = iMax == 144 ? 2 : 1;
  for (int bar = 0, n = 0; bar < iMax; bar += step, ++n) {
    int hour = firstHour + n * hoursPerLabel;
    if (hour > 12) hour -= 12;
    labels.emplace_back(bar, QString::number(hour));
  }
  return labels;
}

QFont TrendGraph::hourFont() const {
  QFont font = lblTitle_->font();
  font.setBold(false);
  font.setPixelSize(std::clamp(picFrame_->height() / 8, 8, 11));
  return font;
}

QFont TrendGraph::scaleFont() const {
  QFont font = lblTitle_->font();
  font.setBold(false);
  font.setPixelSize(std::clamp(picFrame_->height() / 10, 7, 9));
  return font;
}

std::vector<TrendGraph::ChartLabel> TrendGraph::hourLabelPlacement() const {
  std::vector<ChartLabel> placed;
  const QFontMetrics metrics(hourFont());
  const int h = picFrame_->height();
  const int chartWidth = iMax_ * barWidth_;
  const int digitWidth = metrics.horizontalAdvance(QLatin1Char('0'));
  for (const auto& [bar, text] : hourLabels(iMax_)) {
    const int width = metrics.horizontalAdvance(text);
    int x = bar * barWidth_ - (text.size() > 1 ? kTwoDigitLabelShift : kOneDigitLabelShift);
    x = std::clamp(x, 0, std::max(0, chartWidth - width));
    const QRect rect(x, h - 2 - metrics.ascent(), width, metrics.ascent() + 1);
    // A digit's width apart, or "12" and "2" would read as "122".
    if (!placed.empty() && rect.left() < placed.back().rect.right() + 1 + digitWidth) continue;
    placed.push_back({rect, text});
  }
  return placed;
}

QString TrendGraph::decadeText(int band) {
  static const char* const kUnits[] = {"", "K", "M", "G", "T"};
  const int unit = std::clamp(band / 3, 0, 4);
  QString text = QStringLiteral("1") + QString(band - unit * 3, QLatin1Char('0'));
  return text + QLatin1String(kUnits[unit]);
}

std::vector<TrendGraph::ChartLabel> TrendGraph::scaleLabelPlacement() const {
  std::vector<ChartLabel> placed;
  const QFontMetrics metrics(scaleFont());
  const int h = picFrame_->height();
  const int textHeight = metrics.ascent() + 1;
  if (h < 2 * textHeight) return placed;
  const auto hours = hourLabelPlacement();
  int lowestFree = h + kLabelGap;  // labels go bottom up; each stays above the one below
  for (int band = 0; band <= bands_; ++band) {
    const QString text = decadeText(band);
    const int top = std::clamp(gridLineRow(band) - textHeight / 2, 0, h - textHeight);
    const QRect rect(2, top, metrics.horizontalAdvance(text), textHeight);
    if (rect.bottom() + kLabelGap > lowestFree) continue;
    const bool onHourLabel = std::any_of(hours.begin(), hours.end(), [&](const ChartLabel& hour) {
      return hour.rect.adjusted(-kLabelGap, -kLabelGap, kLabelGap, kLabelGap).intersects(rect);
    });
    if (onHourLabel) continue;
    placed.push_back({rect, text});
    lowestFree = rect.top();
  }
  return placed;
}

// Light text on a dark background (or the reverse) with a rim of the
// background colour, so it reads over the bars as well.
void TrendGraph::drawLabel(QPainter& painter, const ChartLabel& label) const {
  const QColor text = backColor_.lightnessF() < 0.5 ? QColor(Qt::white) : QColor(Qt::black);
  const QPoint baseline(label.rect.left(), label.rect.bottom());
  painter.setPen(backColor_);
  for (int dx = -1; dx <= 1; ++dx)
    for (int dy = -1; dy <= 1; ++dy)
      if (dx != 0 || dy != 0) painter.drawText(baseline + QPoint(dx, dy), label.text);
  painter.setPen(text);
  painter.drawText(baseline, label.text);
}

void TrendGraph::drawHourLabels(QImage& image) const {
  const auto labels = hourLabelPlacement();
  if (labels.empty()) return;
  QPainter p(&image);
  p.setFont(hourFont());
  for (const ChartLabel& label : labels) drawLabel(p, label);
}

void TrendGraph::drawScaleLabels(QPainter& painter) const {
  painter.save();
  painter.setFont(scaleFont());
  for (const ChartLabel& label : scaleLabels_) drawLabel(painter, label);
  painter.restore();
}

void TrendGraph::fullRedraw() {
  lastFast_ = false;
  fastCount_ = 0;
  ++fullRedraws_;
  const int w = picFrame_->width(), h = picFrame_->height();
  barWidth_ = std::max(1, (w - kRightMargin) / iMax_);
  const int surfaceWidth = visibleWidth() + (iMax_ - 1) * barWidth_;
  if (surface_.width() != surfaceWidth || surface_.height() != h)
    surface_ = QImage(surfaceWidth, h, QImage::Format_RGB32);
  surface_.fill(backColor_);
  {
    QPainter p(&surface_);
    p.setPen(gridColor_);
    const int phase = static_cast<int>(appended_ % static_cast<unsigned long long>(iBarInt_));
    for (int bar = 0; bar * barWidth_ < surfaceWidth; ++bar) {
      if ((bar + phase) % iBarInt_ == 0) p.drawLine(bar * barWidth_, 0, bar * barWidth_, h - 1);
    }
  }
  for (int i = 0; i < iMax_; ++i) drawBar(surface_, i * barWidth_, values_[i]);
  drawHorizontalLines(surface_, 0, surfaceWidth);
  drawHourLabels(surface_);  // over the bars
  scaleLabels_ = scaleLabelPlacement();  // the scale changes only with a full redraw
  picFrame_->update();
}

void TrendGraph::fastDraw() {
  lastFast_ = true;
  ++fastCount_;
  const int x = (fastCount_ + iMax_ - 1) * barWidth_;
  drawBar(surface_, x, values_[iMax_ - 1]);
  drawHorizontalLines(surface_, x, x + barWidth_);
  picFrame_->update();
}

void TrendGraph::chartResized() { fullRedraw(); }

int TrendGraph::visibleWidth() const { return iMax_ * barWidth_ + kRightMargin; }

QImage TrendGraph::chartImage() const {
  if (surface_.isNull()) return {};
  QImage image = surface_.copy(fastCount_ * barWidth_, 0, visibleWidth(), surface_.height());
  QPainter p(&image);
  drawScaleLabels(p);
  return image;
}

QRect TrendGraph::chartRect() const { return picFrame_->geometry(); }

}  // namespace veltris::console
