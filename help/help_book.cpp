#include "help/help_book.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>

namespace veltris::help {
namespace {

const QRegularExpression& titlePattern() {
  static const QRegularExpression re("<title>(.*?)</title>",
                                     QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
  return re;
}

QString plainText(const QString& html) {
  static const QRegularExpression head("<head>.*?</head>",
                                       QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
  static const QRegularExpression tags("<[^>]*>");
  QString text = html;
  text.remove(head).replace(tags, " ");
  text.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"").replace("&nbsp;", " ").replace("&amp;", "&");
  return text.simplified();
}

// "text|target" lines; blank lines and lines starting with '#' are skipped.
QList<QPair<QString, QString>> pairLines(const QString& text, QList<int>* levels) {
  QList<QPair<QString, QString>> out;
  for (const QString& raw : text.split('\n')) {
    if (raw.trimmed().isEmpty() || raw.trimmed().startsWith('#')) continue;
    const int bar = raw.indexOf('|');
    if (bar < 0) continue;
    int indent = 0;
    while (indent < raw.size() && raw[indent] == ' ') ++indent;
    if (levels != nullptr) levels->append(indent / 2);
    out.append({raw.left(bar).trimmed(), raw.mid(bar + 1).trimmed()});
  }
  return out;
}

}  // namespace

HelpBook::HelpBook(const QString& folder) : folder_(folder) {
  readPages();
  if (pageHtml_.isEmpty()) {
    error_ = "no help pages in " + folder;
    return;
  }
  valid_ = readContents() && readIndex() && readContextMap();
}

QString HelpBook::standardFolder() {
  const QByteArray dir = qgetenv("VELTRIS_HELP_DIR");
  return dir.isEmpty() ? QStringLiteral(":/veltris/help") : QString::fromLocal8Bit(dir);
}

const HelpBook& HelpBook::standard() {
  static const HelpBook book(standardFolder());
  return book;
}

QString HelpBook::readText(const QString& name) const {
  QFile file(QDir(folder_).filePath(name));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  return QString::fromUtf8(file.readAll());
}

void HelpBook::readPages() {
  const QStringList names = QDir(folder_).entryList({"*.html"}, QDir::Files, QDir::Name);
  for (const QString& name : names) {
    const QString html = readText(name);
    const auto match = titlePattern().match(html);
    pageHtml_.insert(name, html);
    pageTitles_.insert(name, match.hasMatch() ? match.captured(1).trimmed() : name);
  }
}

bool HelpBook::readContents() {
  QList<int> levels;
  const auto lines = pairLines(readText("contents.txt"), &levels);
  for (int i = 0; i < lines.size(); ++i) contents_.append({levels[i], lines[i].first, lines[i].second});
  if (contents_.isEmpty()) error_ = "the help book has no contents.txt";
  return !contents_.isEmpty();
}

bool HelpBook::readIndex() {
  for (const auto& [keyword, target] : pairLines(readText("index.txt"), nullptr)) index_.append({keyword, target});
  std::stable_sort(index_.begin(), index_.end(), [](const IndexEntry& a, const IndexEntry& b) {
    return a.keyword.compare(b.keyword, Qt::CaseInsensitive) < 0;
  });
  if (index_.isEmpty()) error_ = "the help book has no index.txt";
  return !index_.isEmpty();
}

bool HelpBook::readContextMap() {
  for (const auto& [number, target] : pairLines(readText("context.map"), nullptr)) {
    bool ok = false;
    const int context = number.toInt(&ok);
    if (ok) contexts_.insert(context, target);
  }
  if (contexts_.isEmpty()) error_ = "the help book has no context.map";
  return !contexts_.isEmpty();
}

QUrl HelpBook::urlFor(const QString& target) const {
  const QString page = target.section('#', 0, 0);
  if (!pageHtml_.contains(page)) return {};
  QUrl url = folder_.startsWith(":/") ? QUrl("qrc" + folder_ + "/" + page) : QUrl::fromLocalFile(QDir(folder_).filePath(page));
  const QString anchor = target.section('#', 1);
  if (!anchor.isEmpty()) url.setFragment(anchor);
  return url;
}

QUrl HelpBook::urlForContext(int context) const {
  const auto it = contexts_.find(context);
  return it == contexts_.end() ? QUrl() : urlFor(*it);
}

QString HelpBook::pageText(const QString& page) const { return plainText(pageHtml_.value(page)); }

bool HelpBook::hasAnchor(const QString& page, const QString& anchor) const {
  const QString html = pageHtml_.value(page);
  return html.contains("id=\"" + anchor + "\"") || html.contains("name=\"" + anchor + "\"");
}

QList<SearchHit> HelpBook::search(const QString& query) const {
  const QStringList words = query.simplified().split(' ', Qt::SkipEmptyParts);
  QList<SearchHit> hits;
  if (words.isEmpty()) return hits;
  for (auto it = pageHtml_.begin(); it != pageHtml_.end(); ++it) {
    const QString text = plainText(*it);
    int score = 0;
    bool all = true;
    for (const QString& word : words) {
      const int n = static_cast<int>(text.count(word, Qt::CaseInsensitive));
      if (n == 0) {
        all = false;
        break;
      }
      score += n;
    }
    if (all) hits.append({pageTitles_.value(it.key()), it.key(), score});
  }
  std::stable_sort(hits.begin(), hits.end(), [](const SearchHit& a, const SearchHit& b) { return a.score > b.score; });
  return hits;
}

}  // namespace veltris::help
