// The orderings, change filter and section key with which item queries are built. Each ordering
// must agree with the order of its fetch: the item folders sort by MODIFIEDAT descending, the
// deferred list by DEFERRALBUCKET and REMINDAT ascending; ties fall back to the id, so that two
// distinct items are never equal.
//
// Rows are shared pointers to KestrunObject that hold items.
#pragma once

#include <memory>

#include "core/model/ks_item.h"

// a before b when a was modified later; equal times by id.
struct KSItem::ModifiedAtDesc {
  bool operator()(const std::shared_ptr<KestrunObject>& a, const std::shared_ptr<KestrunObject>& b) const;
};

// Bucket ascending, then reminder time ascending, then id.
struct KSItem::DeferralOrdering {
  bool operator()(const std::shared_ptr<KestrunObject>& a, const std::shared_ptr<KestrunObject>& b) const;
};

// (old item, new item) of one id: true when any column other than MASTERREV, MODIFIEDAT, SAVEDAT
// and SYNCDATA differs. Those four change with every save and sync and are never shown.
struct KSItem::ChangeIsUserVisible {
  bool operator()(const std::shared_ptr<KestrunObject>& old_item,
                  const std::shared_ptr<KestrunObject>& new_item) const;
};

// The deferral bucket of an item: the section of the deferred list that shows it.
struct KSItem::GetDeferralSection {
  DeferralSection operator()(const std::shared_ptr<KestrunObject>& item) const;
};
