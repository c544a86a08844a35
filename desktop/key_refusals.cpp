#include "desktop/key_refusals.h"

namespace veltris::desktop {

namespace {
constexpr int kAccessKeyLength = 16;

QString asAgentSees(const QString& key) { return key.left(kAccessKeyLength).toUpper(); }
}  // namespace

bool sameAccessKey(const QString& a, const QString& b) { return asAgentSees(a) == asAgentSees(b); }

void KeyRefusals::refused(const QString& key, int64_t now) {
  if (refusals_ > 0 && sameAccessKey(key, key_)) {
    ++refusals_;
  } else {
    key_ = key;
    refusals_ = 1;
  }
  refusedAt_ = now;
}

void KeyRefusals::cleared(const QString& key) {
  if (refusals_ > 0 && sameAccessKey(key, key_)) refusals_ = 0;
}

bool KeyRefusals::isRefused(const QString& key) const { return refusals_ > 0 && sameAccessKey(key, key_); }

std::optional<int64_t> KeyRefusals::retryAt(const QString& key) const {
  if (!isRefused(key) || refusals_ > 1) return std::nullopt;
  return refusedAt_ + kAgentLockoutSeconds + 1;  // the lock-out ends after the whole period
}

bool KeyRefusals::maySend(const QString& key, int64_t now) const {
  if (!isRefused(key)) return true;
  const std::optional<int64_t> at = retryAt(key);
  return at && now >= *at;
}

}  // namespace veltris::desktop
