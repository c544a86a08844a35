#pragma once
// Keys the agent has refused, so that a program never sends one again on its
// own (poll, reconnect): each wrong key counts towards the agent's per-user
// lock-out, and a program that repeats it every second locks its user out.
//
// A refused key may be sent once more when one lock-out period has passed
// (the refusal may have come from a lock-out rather than from the key); after
// a second refusal only the user can offer it again. Keys are compared as the
// agent compares them: the first 16 characters, letters in either case.
#include <QString>
#include <cstdint>
#include <optional>

namespace veltris::desktop {

// How long the agent refuses a user after repeated wrong keys (seconds).
inline constexpr int64_t kAgentLockoutSeconds = 60;

// True when the agent takes `a` and `b` for the same access key.
bool sameAccessKey(const QString& a, const QString& b);

class KeyRefusals {
 public:
  // The agent refused `key` at `now` (seconds).
  void refused(const QString& key, int64_t now);
  // The agent accepted `key`, or the user offered it: it may be sent again.
  void cleared(const QString& key);
  // Whether a program may send `key` on its own at `now`.
  bool maySend(const QString& key, int64_t now) const;
  // When the refused `key` may be sent once more; nullopt when never (or not refused).
  std::optional<int64_t> retryAt(const QString& key) const;
  bool isRefused(const QString& key) const;

 private:
  QString key_;
  int64_t refusedAt_ = 0;
  int refusals_ = 0;  // of key_; 0: nothing refused
};

}  // namespace veltris::desktop
