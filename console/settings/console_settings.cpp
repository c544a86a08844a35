#include "console/settings/console_settings.h"

#include <QSettings>

namespace veltris::console {
namespace {

constexpr char kGroup[] = "Settings";
const char* const kMainKeys[4] = {"MainLeft", "MainTop", "MainWidth", "MainHeight"};
const char* const kNewKeys[4] = {"NewLeft", "NewTop", "NewWidth", "NewHeight"};
const char* const kFlagKeys[4] = {"Foreground", "TabsBottom", "TabsIcons", "TabsCompact"};

std::array<bool*, 4> flagsOf(ConsoleSettings& s) { return {&s.foreground, &s.tabsBottom, &s.tabsIcons, &s.tabsCompact}; }

void readBool(QSettings& q, const char* key, bool& value) {
  if (q.contains(key)) value = q.value(key).toBool();
}
void readInt(QSettings& q, const char* key, int& value) {
  bool ok = false;
  const int v = q.value(key).toInt(&ok);
  if (q.contains(key) && ok) value = v;
}

std::optional<QRect> readRect(QSettings& q, const char* const keys[4]) {
  if (!q.contains(keys[2])) return std::nullopt;
  int v[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4; ++i) readInt(q, keys[i], v[i]);
  if (v[2] <= 0 || v[3] <= 0) return std::nullopt;
  return QRect(v[0], v[1], v[2], v[3]);
}

void writeRect(QSettings& q, const char* const keys[4], const QRect& r) {
  const int v[4] = {r.x(), r.y(), r.width(), r.height()};
  for (int i = 0; i < 4; ++i) q.setValue(keys[i], v[i]);
}

}  // namespace

SettingsStore::SettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "VELTRIS", "VELTRIS")) {}
SettingsStore::SettingsStore(std::unique_ptr<QSettings> settings) : settings_(std::move(settings)) {}
SettingsStore::~SettingsStore() = default;

const std::array<const char*, 5>& SettingsStore::columnWidthKeys() {
  static const std::array<const char*, 5> keys = {"iColWidthMacAddr", "iColWidthProtocol", "iColWidthType",
                                                  "iColWidthName", "iColWidthTime"};
  return keys;
}

const std::array<const char*, 6>& SettingsStore::counterShownKeys() {
  static const std::array<const char*, 6> keys = {"iColBytesSentShow",   "iColPktsSentShow",  "iColPktsSentBCShow",
                                                  "iColPktsSentREShow", "iColBytesRecvShow", "iColPktsRecvShow"};
  return keys;
}

ConsoleSettings SettingsStore::load() {
  ConsoleSettings s;
  QSettings& q = *settings_;
  q.beginGroup(kGroup);
  readBool(q, "SaveSettings", s.saveSettings);
  const auto flags = flagsOf(s);
  for (int i = 0; i < 4; ++i) readBool(q, kFlagKeys[i], *flags[i]);
  for (size_t i = 0; i < columnWidthKeys().size(); ++i) readInt(q, columnWidthKeys()[i], s.columnWidths[i]);
  for (size_t i = 0; i < counterShownKeys().size(); ++i) readBool(q, counterShownKeys()[i], s.counterShown[i]);
  if (const auto fresh = readRect(q, kNewKeys)) {
    s.mainGeometry = *fresh;
  } else if (const auto main = readRect(q, kMainKeys)) {
    s.mainGeometry = *main;
  }
  for (const char* key : kNewKeys) q.remove(key);
  q.endGroup();
  q.sync();
  return s;
}

void SettingsStore::saveOnExit(const ConsoleSettings& s) {
  QSettings& q = *settings_;
  q.beginGroup(kGroup);
  q.setValue("SaveSettings", s.saveSettings);
  ConsoleSettings copy = s;
  const auto flags = flagsOf(copy);
  for (int i = 0; i < 4; ++i) {
    if (s.saveSettings) q.setValue(kFlagKeys[i], *flags[i]);
    else q.remove(kFlagKeys[i]);
  }
  for (size_t i = 0; i < columnWidthKeys().size(); ++i) {
    if (s.saveSettings && s.columnWidths[i] > 0) q.setValue(columnWidthKeys()[i], s.columnWidths[i]);
    else q.remove(columnWidthKeys()[i]);
  }
  for (size_t i = 0; i < counterShownKeys().size(); ++i) {
    if (s.saveSettings) q.setValue(counterShownKeys()[i], s.counterShown[i]);
    else q.remove(counterShownKeys()[i]);
  }
  if (s.saveSettings && !s.mainGeometry.isNull()) {
    writeRect(q, kMainKeys, s.mainGeometry);
  } else {
    for (const char* key : kMainKeys) q.remove(key);
  }
  // Unticked: the "&New" position goes too, so the next start is the design-time one.
  if (!s.saveSettings)
    for (const char* key : kNewKeys) q.remove(key);
  q.endGroup();
  q.sync();
}

void SettingsStore::writeNewPosition(const QRect& geometry) {
  QSettings& q = *settings_;
  q.beginGroup(kGroup);
  writeRect(q, kNewKeys, geometry);
  q.endGroup();
  q.sync();
}

}  // namespace veltris::console
