#pragma once
// Text helpers of the console's grids: fixed record fields to strings, the
// "#,###" counter format and the shared leading columns.
#include <QCoreApplication>
#include <QColor>
#include <QString>
#include <QStringList>

#include <cstddef>

namespace veltris::console {

// A fixed-width field: up to the first NUL, right-trimmed.
QString fieldText(const char* field, size_t width);
// `text` becomes fieldText(field, width), in its own buffer where it can; false if it was that already.
bool setFieldText(QString& text, const char* field, size_t width);

// "#,###": groups of three with commas; an empty text for 0 (and for less than 0.5).
QString counterText(double value);

// Headers of the shared leading columns 0-5 (NIC, Adapter, Protocol, Config, Name, Time).
const QStringList& leadingHeaders();
constexpr int kLeadingColumns = 6;
constexpr int kTimeColumn = 5;

// The text of a leading column of any grid row (adapter, station, protoAddr,
// role, name, time); a null string for the other columns.
template <typename Row>
QString leadingCellText(const Row& row, int column) {
  switch (column) {
    case 0: return QString::number(row.adapter);
    case 1: return row.station;
    case 2: return row.protoAddr;
    case 3: return row.role;
    case 4: return row.name;
    case 5: return row.time;
    default: return {};
  }
}

// Contrast ratio of two colours by their relative luminance (1 to 21).
double contrastRatio(const QColor& a, const QColor& b);
// White or black, whichever reads on `background` (white when it reaches 4.5:1).
QColor readableTextOn(const QColor& background);

// Case-insensitive text order used by the grids' sorts.
inline int compareText(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive); }

// The sort refusal of the sessions and broadcasts grids.
// Translation context of the grids' shared texts.
struct GridTexts {
  Q_DECLARE_TR_FUNCTIONS(veltris::console::Grid)
};

inline QString unexpectedColumnText(int column) { return GridTexts::tr("ERROR - unexpected col ") + QString::number(column); }

}  // namespace veltris::console
