#include "core/model/item_orderings.h"

#include <cstddef>
#include <tuple>
#include <utility>

namespace {

using libkestrun::internal::ItemAttr;
using libkestrun::internal::ItemTuple;

const KSItem& item(const std::shared_ptr<KestrunObject>& object) {
  return static_cast<const KSItem&>(*object);
}

constexpr bool ignored(size_t column) {
  return column == static_cast<size_t>(ItemAttr::MASTERREV) ||
         column == static_cast<size_t>(ItemAttr::MODIFIEDAT) ||
         column == static_cast<size_t>(ItemAttr::SAVEDAT) ||
         column == static_cast<size_t>(ItemAttr::SYNCDATA);
}

// Whether a column outside the ignored four differs. Compared with ==, the test a column setter
// uses to decide that a value changed.
template <size_t... I>
bool visible_difference(const ItemTuple& a, const ItemTuple& b, std::index_sequence<I...>) {
  return ((!ignored(I) && !(std::get<I>(a) == std::get<I>(b))) || ...);
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
  return visible_difference(item(old_item).row().row.values, item(new_item).row().row.values,
                            std::make_index_sequence<std::tuple_size_v<ItemTuple>>{});
}

KSItem::DeferralSection KSItem::GetDeferralSection::operator()(
    const std::shared_ptr<KestrunObject>& object) const {
  return item(object).deferralBucket();
}
