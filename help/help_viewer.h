#pragma once
// The help window's widget; help_window.h is the interface other programs use.
#include <QUrl>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QTextBrowser;
class QTreeWidget;

namespace veltris::help {

class HelpBook;

class HelpViewer : public QWidget {
 public:
  HelpViewer(const HelpBook& book, QWidget* parent = nullptr);

  bool openTarget(const QString& target);
  bool openContext(int context);
  void showContentsTab();
  void showIndexTab();
  void runSearch(const QString& query);
  QUrl currentUrl() const;

 private:
  QWidget* buildContents();
  QWidget* buildIndex();
  QWidget* buildSearch();
  void openSearchHit(QListWidgetItem* item);

  const HelpBook& book_;
  QTextBrowser* browser_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QTreeWidget* contentsTree_ = nullptr;
  QLineEdit* indexFilter_ = nullptr;
  QListWidget* indexList_ = nullptr;
  QLineEdit* searchText_ = nullptr;
  QListWidget* searchResults_ = nullptr;
};

// The open help window, or nullptr (tests look at it).
HelpViewer* currentViewer();

}  // namespace veltris::help
