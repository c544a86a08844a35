#include "help/help_window.h"

#include <algorithm>

#include <QApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "help/help_book.h"
#include "help/help_contexts.h"
#include "help/help_viewer.h"

namespace veltris::help {
namespace {

constexpr char kContextProperty[] = "veltrisHelpContext";
QPointer<HelpViewer> g_viewer;

HelpViewer* viewer(QWidget* parent) {
  if (g_viewer.isNull()) g_viewer = new HelpViewer(HelpBook::standard(), parent != nullptr ? parent->window() : nullptr);
  return g_viewer;
}

void raise(HelpViewer* v) {
  v->show();
  v->raise();
  v->activateWindow();
}

}  // namespace

HelpViewer::HelpViewer(const HelpBook& book, QWidget* parent) : QWidget(parent, Qt::Window), book_(book) {
  setObjectName("frmHelp");
  setWindowTitle("VELTRIS Help");
  setAttribute(Qt::WA_DeleteOnClose);
  resize(900, 640);

  browser_ = new QTextBrowser;
  browser_->setObjectName("txtHelpPage");
  browser_->setOpenExternalLinks(true);
  connect(browser_, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) {
    setWindowTitle("VELTRIS Help - " + book_.titleOf(url.fileName()));
  });

  auto* bar = new QToolBar;
  bar->addAction("Back", browser_, &QTextBrowser::backward);
  bar->addAction("Forward", browser_, &QTextBrowser::forward);
  bar->addAction("Contents", this, [this] { showContentsTab(); });

  tabs_ = new QTabWidget;
  tabs_->addTab(buildContents(), "Contents");
  tabs_->addTab(buildIndex(), "Index");
  tabs_->addTab(buildSearch(), "Search");

  auto* split = new QSplitter;
  split->addWidget(tabs_);
  split->addWidget(browser_);
  split->setStretchFactor(1, 3);
  split->setSizes({260, 640});

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(bar);
  layout->addWidget(split);

  if (!book_.contents().isEmpty()) openTarget(book_.contents().first().target);
}

QWidget* HelpViewer::buildContents() {
  contentsTree_ = new QTreeWidget;
  contentsTree_->setObjectName("treeHelpContents");
  contentsTree_->setHeaderHidden(true);
  QList<QTreeWidgetItem*> parents;
  for (const ContentsEntry& entry : book_.contents()) {
    const int level = std::min<int>(entry.level, static_cast<int>(parents.size()));
    parents.resize(level);
    auto* item = parents.isEmpty() ? new QTreeWidgetItem(contentsTree_) : new QTreeWidgetItem(parents.last());
    item->setText(0, entry.title);
    item->setData(0, Qt::UserRole, entry.target);
    parents.append(item);
  }
  contentsTree_->expandAll();
  connect(contentsTree_, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem* item) { openTarget(item->data(0, Qt::UserRole).toString()); });
  connect(contentsTree_, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item) { openTarget(item->data(0, Qt::UserRole).toString()); });
  return contentsTree_;
}

QWidget* HelpViewer::buildIndex() {
  auto* page = new QWidget;
  indexFilter_ = new QLineEdit;
  indexFilter_->setObjectName("txtHelpIndex");
  indexFilter_->setPlaceholderText("Type a keyword");
  indexList_ = new QListWidget;
  indexList_->setObjectName("lstHelpIndex");
  for (const IndexEntry& entry : book_.index()) {
    auto* item = new QListWidgetItem(entry.keyword, indexList_);
    item->setData(Qt::UserRole, entry.target);
  }
  connect(indexFilter_, &QLineEdit::textChanged, this, [this](const QString& text) {
    QListWidgetItem* first = nullptr;
    for (int i = 0; i < indexList_->count(); ++i) {
      QListWidgetItem* item = indexList_->item(i);
      const bool match = item->text().contains(text, Qt::CaseInsensitive);
      item->setHidden(!match);
      if (match && first == nullptr) first = item;
    }
    if (first != nullptr) indexList_->setCurrentItem(first);
  });
  connect(indexFilter_, &QLineEdit::returnPressed, this, [this] {
    if (QListWidgetItem* item = indexList_->currentItem(); item != nullptr && !item->isHidden())
      openTarget(item->data(Qt::UserRole).toString());
  });
  connect(indexList_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { openTarget(item->data(Qt::UserRole).toString()); });
  connect(indexList_, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { openTarget(item->data(Qt::UserRole).toString()); });
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(indexFilter_);
  layout->addWidget(indexList_);
  return page;
}

QWidget* HelpViewer::buildSearch() {
  auto* page = new QWidget;
  searchText_ = new QLineEdit;
  searchText_->setObjectName("txtHelpSearch");
  searchText_->setPlaceholderText("Words to find");
  auto* go = new QPushButton("&Search");
  searchResults_ = new QListWidget;
  searchResults_->setObjectName("lstHelpSearch");
  auto* row = new QHBoxLayout;
  row->addWidget(searchText_);
  row->addWidget(go);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(row);
  layout->addWidget(searchResults_);
  connect(go, &QPushButton::clicked, this, [this] { runSearch(searchText_->text()); });
  connect(searchText_, &QLineEdit::returnPressed, this, [this] { runSearch(searchText_->text()); });
  connect(searchResults_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { openSearchHit(item); });
  connect(searchResults_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { openSearchHit(item); });
  return page;
}

void HelpViewer::openSearchHit(QListWidgetItem* item) {
  openTarget(item->data(Qt::UserRole).toString());
  const QString first = searchText_->text().simplified().section(' ', 0, 0);
  if (!first.isEmpty()) browser_->find(first);
}

void HelpViewer::runSearch(const QString& query) {
  searchResults_->clear();
  const QList<SearchHit> hits = book_.search(query);
  for (const SearchHit& hit : hits) {
    auto* item = new QListWidgetItem(hit.title, searchResults_);
    item->setData(Qt::UserRole, hit.page);
  }
  if (hits.isEmpty()) new QListWidgetItem("(no topic holds these words)", searchResults_);
}

bool HelpViewer::openTarget(const QString& target) {
  const QUrl url = book_.urlFor(target);
  if (url.isEmpty()) return false;
  browser_->setSource(url);
  return true;
}

bool HelpViewer::openContext(int context) {
  const QUrl url = book_.urlForContext(context);
  if (url.isEmpty()) return false;
  browser_->setSource(url);
  return true;
}

void HelpViewer::showContentsTab() {
  tabs_->setCurrentIndex(0);
  if (!book_.contents().isEmpty()) openTarget(book_.contents().first().target);
}

void HelpViewer::showIndexTab() {
  tabs_->setCurrentIndex(1);
  indexFilter_->setFocus();
}

QUrl HelpViewer::currentUrl() const { return browser_->source(); }

void showTopic(int context, QWidget* parent) {
  HelpViewer* v = viewer(parent);
  // An unknown number opens the contents rather than nothing.
  if (!v->openContext(context)) v->showContentsTab();
  raise(v);
}

bool showContents(QWidget* parent) {
  if (!HelpBook::standard().isValid()) return false;
  HelpViewer* v = viewer(parent);
  v->showContentsTab();
  raise(v);
  return true;
}

bool showIndex(QWidget* parent) {
  if (!HelpBook::standard().isValid()) return false;
  HelpViewer* v = viewer(parent);
  v->showIndexTab();
  raise(v);
  return true;
}

HelpViewer* currentViewer() { return g_viewer; }

void setHelpContext(QWidget* widget, int context) { widget->setProperty(kContextProperty, context); }

int helpContextOf(const QWidget* widget) {
  for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
    const QVariant v = w->property(kContextProperty);
    if (v.isValid()) return v.toInt();
  }
  return 0;
}

void installHelpKey(QWidget* window) {
  auto* key = new QShortcut(QKeySequence::HelpContents, window);
  key->setContext(Qt::WindowShortcut);
  QObject::connect(key, &QShortcut::activated, window, [window] {
    const int context = helpContextOf(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : window);
    showTopic(context != 0 ? context : helpContextOf(window), window);
  });
}

}  // namespace veltris::help
