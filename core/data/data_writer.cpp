// The operation frame and the task shapes of the data writer.
#include <utility>

#include "core/data/data_writer_routines.h"
#include "core/services/offline_manager.h"
#include "core/services/undo_manager.h"

namespace libkestrun::internal {

void performWriterTask(KestrunDataCenter::DataTask task, KestrunDataWriter::Completion completion) {
  KestrunDataCenter::performNormalDataTask(std::move(task), nullptr, std::move(completion));
}

UndoStepLock::UndoStepLock() { undo_manager_lock(); }
UndoStepLock::~UndoStepLock() { undo_manager_unlock(); }

void collect(Ids* collectedIds, const std::string& id) {
  if (collectedIds != nullptr) collectedIds->push_back(id);
}

void sendCollected(const Ids& collectedIds) {
  if (!collectedIds.empty()) offline_manager_send_requests_for_ids(collectedIds);
}

bool runSingleItemTriage(const std::string& itemId, bool overrideEngagedToBeFalse, DBContext& context,
                         const ItemRoutine& routine) {
  UndoStepLock lock;
  undo_manager_clear();
  std::shared_ptr<KSItem> item = internalFetchItem(itemId, context);
  const bool engaged = !overrideEngagedToBeFalse && item && item->threadRead();
  return routine(item, true, nullptr, engaged);
}

namespace {

void runEach(const KSObjects<KSItem>& items, const ItemRoutine& routine) {
  Ids collected;
  for (const auto& item : *items) {
    if (routine(item, false, &collected, item->threadRead())) collected.push_back(item->itemID());
  }
  sendCollected(collected);
}

}  // namespace

void runBatchTriage(const Ids& itemIds, DBContext& context, const ItemRoutine& routine) {
  UndoStepLock lock;
  KSObjects<KSItem> items = KSItem::fetchItemsWithIDs(itemIds, &context);
  undo_manager_clear();
  runEach(items, routine);
}

void runBatch(const Ids& itemIds, DBContext& context, const ItemRoutine& routine) {
  runEach(KSItem::fetchItemsWithIDs(itemIds, &context), routine);
}

void performSingleItemTriage(const std::string& itemId, bool overrideEngagedToBeFalse, ItemRoutine routine,
                             KestrunDataWriter::Completion completion) {
  performWriterTask(
      [itemId, overrideEngagedToBeFalse, routine = std::move(routine)](Ids& ids, DBContext& context) {
        // The caller learns whether its item moved, as a batch's items go to the server.
        if (runSingleItemTriage(itemId, overrideEngagedToBeFalse, context, routine)) ids.push_back(itemId);
      },
      std::move(completion));
}

void performBatchTriage(const Ids& itemIds, ItemRoutine routine, KestrunDataWriter::Completion completion) {
  performWriterTask([itemIds, routine = std::move(routine)](
                        Ids&, DBContext& context) { runBatchTriage(itemIds, context, routine); },
                    std::move(completion));
}

}  // namespace libkestrun::internal
