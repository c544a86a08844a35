// The grids' delegate paints every cell as the style's own painting does:
// the grid drawn with it and with the stock delegate gives the same pixels.
#include <QFont>
#include <QImage>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyleFactory>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTest>

#include <memory>

#include "console/tabs/grid_delegate.h"
#include "console/tabs/grid_view.h"

using namespace veltris::console;

namespace {

struct Cell {
  QString text;
  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
  QColor foreground, background;
  bool bold = false;
};

// Rows of what the grids show: names and times left, counters right,
// empty cells, colours, a bold cell, text too wide for its column.
std::unique_ptr<QStandardItemModel> gridModel() {
  const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
  const QList<QList<Cell>> rows = {
      {{"1"}, {"02608C123456"}, {"IP 10.0.0.1"}, {"10:00:01"}, {"1,234,567", right}, {"", right}},
      {{"2"}, {"AA0004001234"}, {"IPX 00000001:AA0004001234 with a name far too wide"}, {"23:59:59"},
       {"-42", right}, {"7", right}},
      {{"3", Qt::AlignCenter}, {"Red", {}, QColor(200, 0, 0)}, {"Back", {}, {}, QColor(255, 255, 128)},
       {"Bold", {}, {}, {}, true}, {"999,999,999,999", right}, {"Wider counter than its column", right}},
      {{"4"}, {"Top", Qt::AlignLeft | Qt::AlignTop}, {"Bottom", Qt::AlignRight | Qt::AlignBottom}, {""},
       {"12", right}, {"0.5", right}},
  };
  auto model = std::make_unique<QStandardItemModel>(static_cast<int>(rows.size()), 6);
  for (int r = 0; r < rows.size(); ++r) {
    for (int c = 0; c < rows[r].size(); ++c) {
      const Cell& cell = rows[r][c];
      auto* item = new QStandardItem(cell.text);
      item->setTextAlignment(cell.alignment);
      if (cell.foreground.isValid()) item->setForeground(cell.foreground);
      if (cell.background.isValid()) item->setBackground(cell.background);
      if (cell.bold) {
        QFont font;
        font.setBold(true);
        item->setFont(font);
      }
      model->setItem(r, c, item);
    }
  }
  return model;
}

QImage paintedWith(QTableView& grid, QAbstractItemDelegate* delegate) {
  grid.setItemDelegate(delegate);
  return grid.grab().toImage();
}

}  // namespace

class GridDelegateTest : public QObject {
  Q_OBJECT
 private slots:
  void gridsUseIt() {
    QStandardItemModel model(1, 1);
    std::unique_ptr<QTableView> grid(makeGrid("gridTest", &model, nullptr));
    QVERIFY(qobject_cast<GridDelegate*>(grid->itemDelegate()) != nullptr);
  }

  void samePixelsAsTheStyle_data() {
    QTest::addColumn<QString>("style");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<bool>("focused");
    QTest::addColumn<bool>("enabled");
    for (const char* style : {"Fusion", "Windows"}) {
      QTest::addRow("%s plain", style) << style << false << false << true;
      QTest::addRow("%s rows selected", style) << style << true << false << true;
      QTest::addRow("%s current cell with focus", style) << style << true << true << true;
      QTest::addRow("%s disabled", style) << style << true << false << false;
    }
  }
  void samePixelsAsTheStyle() {
    QFETCH(QString, style);
    QFETCH(bool, selected);
    QFETCH(bool, focused);
    QFETCH(bool, enabled);
    std::unique_ptr<QStyle> theStyle(QStyleFactory::create(style));
    QVERIFY(theStyle != nullptr);
    const auto model = gridModel();
    QWidget window;
    std::unique_ptr<QTableView> owned(makeGrid("gridTest", model.get(), &window));
    QTableView& grid = *owned;
    grid.setStyle(theStyle.get());
    grid.resize(560, 140);
    grid.setColumnWidth(2, 150);
    grid.setColumnWidth(4, 90);
    grid.setEnabled(enabled);
    if (selected) {
      grid.selectRow(1);
      grid.selectionModel()->select(model->index(3, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (focused) {
      grid.setCurrentIndex(model->index(1, 4));
      grid.setFocus();
    }
    QStyledItemDelegate stock;
    GridDelegate fast;
    const QImage expected = paintedWith(grid, &stock);
    const QImage actual = paintedWith(grid, &fast);
    if (actual != expected) {
      expected.save(QDir::temp().filePath("grid_delegate_expected.png"));
      actual.save(QDir::temp().filePath("grid_delegate_actual.png"));
    }
    QVERIFY2(actual == expected, "the grid looks different; both pictures are in the temp folder");
    grid.setItemDelegate(nullptr);
  }
};

QTEST_MAIN(GridDelegateTest)
#include "grid_delegate_test.moc"
