#pragma once
// The help book: HTML pages with a contents tree, a keyword index and a map
// from context numbers to pages. Read from a folder (the compiled-in copy by
// default); no widgets here, so tests and tools can check the book.
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace veltris::help {

struct ContentsEntry {
  int level = 0;  // 0 = top
  QString title;
  QString target;  // page, optionally with "#anchor"
};

struct IndexEntry {
  QString keyword;
  QString target;
};

struct SearchHit {
  QString title;
  QString page;
  int score = 0;  // occurrences of the words
};

class HelpBook {
 public:
  // Reads the book from `folder` (a path or a ":/" resource path).
  explicit HelpBook(const QString& folder);

  // The book every window uses: $VELTRIS_HELP_DIR when set, else the compiled-in copy.
  static const HelpBook& standard();
  static QString standardFolder();

  bool isValid() const { return valid_; }
  QString error() const { return error_; }
  QString folder() const { return folder_; }

  const QList<ContentsEntry>& contents() const { return contents_; }
  const QList<IndexEntry>& index() const { return index_; }
  const QMap<int, QString>& contextMap() const { return contexts_; }
  QStringList pages() const { return pageTitles_.keys(); }

  // URL of a target ("page.html#anchor") or of a context number; empty when unknown.
  QUrl urlFor(const QString& target) const;
  QUrl urlForContext(int context) const;
  QString titleOf(const QString& page) const { return pageTitles_.value(page); }
  QString pageText(const QString& page) const;  // plain text, tags removed
  bool hasAnchor(const QString& page, const QString& anchor) const;

  // Pages that hold every word of `query` (case ignored), best first.
  QList<SearchHit> search(const QString& query) const;

 private:
  bool readContents();
  bool readIndex();
  bool readContextMap();
  void readPages();
  QString readText(const QString& name) const;

  QString folder_;
  bool valid_ = false;
  QString error_;
  QList<ContentsEntry> contents_;
  QList<IndexEntry> index_;
  QMap<int, QString> contexts_;
  QMap<QString, QString> pageTitles_;
  QMap<QString, QString> pageHtml_;
};

}  // namespace veltris::help
