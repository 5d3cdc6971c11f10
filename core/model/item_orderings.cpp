#include "core/model/item_orderings.h"

#include <cstddef>

#include "core/model/row_difference.h"

namespace {

using libkestrun::internal::ItemAttr;

const KSItem& item(const std::shared_ptr<KestrunObject>& object) {
  return static_cast<const KSItem&>(*object);
}

}  // namespace

bool KSItem::modified_at_desc(const std::shared_ptr<KestrunObject>& a,
                              const std::shared_ptr<KestrunObject>& b) {
  return ModifiedAtDesc()(a, b);
}

bool KSItem::ModifiedAtDesc::operator()(const std::shared_ptr<KestrunObject>& a,
                                        const std::shared_ptr<KestrunObject>& b) const {
  const int64_t ma = item(a).modifiedAt();
  const int64_t mb = item(b).modifiedAt();
  if (ma != mb) return ma > mb;
  return KestrunObject::OrderOnId()(a, b);
}

bool KSItem::DeferralOrdering::operator()(const std::shared_ptr<KestrunObject>& a,
                                          const std::shared_ptr<KestrunObject>& b) const {
  const KSItem& x = item(a);
  const KSItem& y = item(b);
  if (x.deferralBucket() != y.deferralBucket()) return x.deferralBucket() < y.deferralBucket();
  if (x.remindAt() != y.remindAt()) return x.remindAt() < y.remindAt();
  return KestrunObject::OrderOnId()(a, b);
}

bool KSItem::ChangeIsUserVisible::operator()(const std::shared_ptr<KestrunObject>& old_item,
                                             const std::shared_ptr<KestrunObject>& new_item) const {
  // These four change with every save and sync and are never shown.
  return libkestrun::differs_outside(
      item(old_item).row().row.values, item(new_item).row().row.values,
      {static_cast<size_t>(ItemAttr::MASTERREV), static_cast<size_t>(ItemAttr::MODIFIEDAT),
       static_cast<size_t>(ItemAttr::SAVEDAT), static_cast<size_t>(ItemAttr::SYNCDATA)});
}

KSItem::DeferralSection KSItem::GetDeferralSection::operator()(
    const std::shared_ptr<KestrunObject>& object) const {
  return item(object).deferralBucket();
}
