#include "core/AddressLimits.h"

#include <boost/asio/ip/address.hpp>

#include "core/StrFormat.h"

AddressKey LimitKey(const boost::asio::ip::address& address) {
  if (address.is_v4()) return AddressKey(address.to_v4().to_uint());
  const auto v6 = address.to_v6();
  if (v6.is_v4_mapped()) {
    return AddressKey(boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, v6).to_uint());
  }
  const auto bytes = v6.to_bytes();
  AddressKey key;
  for (size_t i = 0; i < 8; ++i) key.value = (key.value << 8) | bytes[i];
  key.v6 = true;
  return key;
}

void AddressLimits::SetLimits(int maxOpen, int maxConnectsPerMinute) {
  maxOpen_ = maxOpen > 0 ? maxOpen : 0;
  maxConnects_ = maxConnectsPerMinute > 0 ? maxConnectsPerMinute : 0;
}

AddressLimits::Decision AddressLimits::Admit(AddressKey address, TimePoint now) {
  Forget(now);
  Decision decision;
  if (!Enabled()) return decision;
  auto [it, added] = counts_.try_emplace(address);
  Counts& counts = it->second;
  if (maxConnects_ > 0 && (counts.connects == 0 || now - counts.windowStart >= kWindow)) {
    counts.windowStart = now;
    counts.connects = 0;
  }
  if (maxOpen_ > 0 && counts.open >= maxOpen_) {
    decision.verdict = Verdict::kTooManyOpen;
    decision.limit = maxOpen_;
  } else if (maxConnects_ > 0 && counts.connects >= maxConnects_) {
    decision.verdict = Verdict::kTooManyConnects;
    decision.limit = maxConnects_;
  }
  if (decision.verdict != Verdict::kAdmitted) {
    if (!counts.reported || now - counts.reportedAt >= kWindow) {
      counts.reported = true;
      counts.reportedAt = now;
      decision.report = true;
      KeepUntil(address, counts, now + kWindow);
    }
    if (counts.open == 0 && counts.keepUntil <= now) counts_.erase(it);
    return decision;
  }
  ++counts.open;
  if (maxConnects_ > 0 && counts.connects++ == 0) KeepUntil(address, counts, now + kWindow);
  return decision;
}

void AddressLimits::Release(AddressKey address, TimePoint now) {
  auto it = counts_.find(address);
  if (it != counts_.end() && it->second.open > 0 && --it->second.open == 0 && it->second.keepUntil <= now) {
    counts_.erase(it);
  }
  Forget(now);
}

int AddressLimits::Open(AddressKey address) const {
  auto it = counts_.find(address);
  return it == counts_.end() ? 0 : it->second.open;
}

void AddressLimits::KeepUntil(AddressKey address, Counts& counts, TimePoint until) {
  if (until <= counts.keepUntil) return;
  counts.keepUntil = until;
  expiries_.emplace_back(until, address);
}

void AddressLimits::Forget(TimePoint now) {
  while (!expiries_.empty() && expiries_.front().first <= now) {
    auto it = counts_.find(expiries_.front().second);
    if (it != counts_.end() && it->second.open == 0 && it->second.keepUntil <= now) counts_.erase(it);
    expiries_.pop_front();
  }
}

std::string AddressRefusalText(const std::string& address, const AddressLimits::Decision& decision) {
  if (decision.verdict == AddressLimits::Verdict::kTooManyOpen) {
    return StrFormat("%s refused: more than %d connections at once (MaxPerIP)", address.c_str(),
                     decision.limit);
  }
  return StrFormat("%s refused: more than %d connections a minute (MaxConnectsPerIP)", address.c_str(),
                   decision.limit);
}
