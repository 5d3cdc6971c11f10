// Live queries of the facade. Every query operation builds one query (fetch, ordering, change
// filter, observer) and registers it with the consumer center on the calling thread: the first
// pass and the first set_results run here, under the consumer center's mutex, before the call
// returns; later passes run on the core thread after each commit that touched the query's table.
// The facade keeps no query state: the consumer center owns every query.
//
// A paged item list fixes its page boundary once, here: the modification time of the row just past
// the page. The fetch then takes every row at or after that time, so the list holds the page plus
// one row, and keeps every row that later becomes newer.
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "core/api/api.h"
#include "core/data/consumer_center.h"
#include "core/model/item_orderings.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/ks_contact.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/ks_list.h"
#include "core/model/section_adapter.h"
#include "core/sync/auto_swipe_server_client.h"

namespace libkestrun {

namespace {

using Row = std::shared_ptr<KestrunObject>;
using Fetch = FnObjectQuery::FetchFn;
using DeferralAdapter = SectionQueryObserverAdapter<KSItem::DeferralSection, Row, KSItem::GetDeferralSection,
                                                    KSItem::DeferralOrdering, std::equal_to<>>;

constexpr char kItemTable[] = "KSITEM";
constexpr char kEmailTable[] = "KSEMAIL";
constexpr char kContactTable[] = "KSCONTACT";
constexpr char kListTable[] = "KSLIST";
constexpr char kAutoSwipeTable[] = "KSAUTOSWIPE";

// What the paging request's success receives when a page holds no rule: no rule is older.
constexpr long long kNoOlderAutoSwipe = std::numeric_limits<long long>::max();

bool always_visible(const Row&, const Row&) { return true; }

void register_query(const std::string& queryId, const char* table, Fetch fetch,
                    FnObjectQuery::Ordering ordering, FnObjectQuery::ChangeFilter filter,
                    std::shared_ptr<ObjectQueryObserver> observer) {
  KestrunConsumerCenter::addQuery(
      queryId, table,
      std::make_unique<FnObjectQuery>(queryId, std::move(fetch), std::move(ordering), std::move(filter),
                                      std::move(observer)),
      false);
}

// The modification time of the row just past the first `limit` rows of a paged list; 0 (every
// row) for a limit below 1 and for the lists that are never paged. Read under the consumer
// center's mutex, so it never overlaps a query pass on the core thread.
int64_t page_boundary(ItemGestureContextType context, int limit, const std::string& listId,
                      const std::string& accountId) {
  if (limit < 1) return 0;
  int64_t boundary = 0;
  KestrunConsumerCenter::withDBContext([&](DBContext& db) {
    switch (context) {
      case ItemGestureContextType::Inbox:
        boundary = KSItem::inboxPageBoundary(limit, &db);
        break;
      case ItemGestureContextType::Archive:
        boundary = KSItem::archivePageBoundary(limit, &db);
        break;
      case ItemGestureContextType::List:
        boundary = KSItem::listPageBoundary(limit, listId, &db);
        break;
      case ItemGestureContextType::AccountInbox:
        boundary = KSItem::inboxPageBoundaryForAccount(limit, accountId, &db);
        break;
      case ItemGestureContextType::Sent:
        boundary = KSItem::sentPageBoundary(limit, &db);
        break;
      case ItemGestureContextType::AutoSwiped:
        boundary = KSItem::autoSwipedPageBoundary(limit, &db);
        break;
      case ItemGestureContextType::Drafts:
        boundary = KSItem::draftsPageBoundary(limit, &db);
        break;
      default:
        break;
    }
  });
  return boundary;
}

// The rows of an item list. A context that is no item list (search results come from the search
// operations) gets a list that stays empty.
Fetch item_list_fetch(ItemGestureContextType context, int64_t since, const std::string& listId,
                      const std::string& accountId) {
  switch (context) {
    case ItemGestureContextType::Inbox:
      return [since](const std::string&, KestrunContext& c) { return c.inboxItemsSinceQuery(since); };
    case ItemGestureContextType::Later:
      return [](const std::string&, KestrunContext& c) { return c.laterItemsQuery(); };
    case ItemGestureContextType::Archive:
      return [since](const std::string&, KestrunContext& c) { return c.archiveItemsSinceQuery(since); };
    case ItemGestureContextType::Trash:
      return [](const std::string&, KestrunContext& c) { return c.trashItemsQuery(); };
    case ItemGestureContextType::List:
      return [since, listId](const std::string&, KestrunContext& c) {
        return c.listItemsSinceQuery(since, listId);
      };
    case ItemGestureContextType::AccountInbox:
      return [since, accountId](const std::string&, KestrunContext& c) {
        return c.inboxItemsSinceForAccountQuery(since, accountId);
      };
    case ItemGestureContextType::Sent:
      return [since](const std::string&, KestrunContext& c) { return c.sentItemsSinceQuery(since); };
    case ItemGestureContextType::AutoSwiped:
      return [since](const std::string&, KestrunContext& c) { return c.autoSwipedItemsSinceQuery(since); };
    case ItemGestureContextType::Spam:
      return [](const std::string&, KestrunContext& c) { return c.spamItemsQuery(); };
    case ItemGestureContextType::Drafts:
      return [since](const std::string&, KestrunContext& c) { return c.itemsWithDraftsSinceQuery(since); };
    default:
      return [](const std::string&, KestrunContext&) { return std::make_shared<std::vector<Row>>(); };
  }
}

std::shared_ptr<ObjectQueryObserver> observer_of(Api::QueryResultsFn results, Api::QueryBeginFn begin,
                                                 Api::QueryEndFn end, Api::QueryChangeFn change) {
  return std::make_shared<FnDataQueryObserver>(std::move(results), std::move(begin), std::move(change),
                                               std::move(end));
}

}  // namespace

void Api::perform_query_items(const std::string& queryId, ItemGestureContextType context, int limit,
                              const std::string& listId, const std::string& accountId,
                              std::shared_ptr<ObjectQueryObserver> observer) {
  const int64_t since = page_boundary(context, limit, listId, accountId);
  register_query(queryId, kItemTable, item_list_fetch(context, since, listId, accountId),
                 KSItem::ModifiedAtDesc(), KSItem::ChangeIsUserVisible(), std::move(observer));
}

void Api::perform_query_items(const std::string& queryId, ItemGestureContextType context, int limit,
                              const std::string& listId, const std::string& accountId, QueryResultsFn results,
                              QueryBeginFn begin, QueryEndFn end, QueryChangeFn change) {
  perform_query_items(queryId, context, limit, listId, accountId,
                      observer_of(std::move(results), std::move(begin), std::move(end), std::move(change)));
}

// The deferred list is never paged and never one account's: `limit` and `accountId` are taken
// for the caller's convenience only.
void Api::perform_deferral_section_query(const std::string& queryId, int /*limit*/,
                                         const std::string& /*accountId*/,
                                         std::unique_ptr<DeferralSectionObserver> observer) {
  register_query(
      queryId, kItemTable, [](const std::string&, KestrunContext& c) { return c.laterItemsQuery(); },
      KSItem::DeferralOrdering(), always_visible, std::make_shared<DeferralAdapter>(std::move(observer)));
}

void Api::perform_query_emails(const std::string& queryId, const std::string& parentItemId,
                               std::shared_ptr<ObjectQueryObserver> observer) {
  register_query(
      queryId, kEmailTable,
      [parentItemId](const std::string&, KestrunContext& c) {
        return c.emailsForItemByDateQuery(parentItemId);
      },
      KSEmail::CreatedAtAsc(), KSEmail::ChangeIsUserVisible(), std::move(observer));
}

void Api::perform_query_emails(const std::string& queryId, const std::string& parentItemId,
                               QueryResultsFn results, QueryBeginFn begin, QueryEndFn end,
                               QueryChangeFn change) {
  perform_query_emails(queryId, parentItemId,
                       observer_of(std::move(results), std::move(begin), std::move(end), std::move(change)));
}

void Api::perform_query_item(const std::string& queryId, const std::string& itemId,
                             std::shared_ptr<ObjectQueryObserver> observer) {
  register_query(
      queryId, kItemTable, [itemId](const std::string&, KestrunContext& c) { return c.itemQuery(itemId); },
      &KSItem::modified_at_desc, always_visible, std::move(observer));
}

void Api::perform_query_item(const std::string& queryId, const std::string& itemId, QueryResultsFn results,
                             QueryBeginFn begin, QueryEndFn end, QueryChangeFn change) {
  perform_query_item(queryId, itemId,
                     observer_of(std::move(results), std::move(begin), std::move(end), std::move(change)));
}

void Api::perform_query_email(const std::string& queryId, const std::string& emailId,
                              std::shared_ptr<ObjectQueryObserver> observer) {
  register_query(
      queryId, kEmailTable,
      [emailId](const std::string&, KestrunContext& c) { return c.emailQuery(emailId); },
      KSEmail::CreatedAtAsc(), always_visible, std::move(observer));
}

void Api::perform_query_email(const std::string& queryId, const std::string& emailId, QueryResultsFn results,
                              QueryBeginFn begin, QueryEndFn end, QueryChangeFn change) {
  perform_query_email(queryId, emailId,
                      observer_of(std::move(results), std::move(begin), std::move(end), std::move(change)));
}

void Api::perform_query_contacts(const std::string& queryId, const std::string& searchText,
                                 std::shared_ptr<ObjectQueryObserver> observer) {
  Fetch fetch;
  if (searchText.empty())
    fetch = [](const std::string&, KestrunContext& c) { return c.contactsByScoreQuery(); };
  else
    fetch = [searchText](const std::string&, KestrunContext& c) {
      return c.contactsMatchingQuery(searchText);
    };
  register_query(queryId, kContactTable, std::move(fetch), &KSContact::score_desc, always_visible,
                 std::move(observer));
}

void Api::perform_query_contacts(const std::string& queryId, const std::string& searchText,
                                 QueryResultsFn results, QueryBeginFn begin, QueryEndFn end,
                                 QueryChangeFn change) {
  perform_query_contacts(
      queryId, searchText,
      observer_of(std::move(results), std::move(begin), std::move(end), std::move(change)));
}

void Api::perform_query_lists(const std::string& queryId, bool nonEmptyOnly,
                              std::shared_ptr<ObjectQueryObserver> observer) {
  Fetch fetch;
  if (nonEmptyOnly)
    fetch = [](const std::string&, KestrunContext& c) { return c.nonEmptyListsQuery(); };
  else
    fetch = [](const std::string&, KestrunContext& c) { return c.listsQuery(); };
  register_query(queryId, kListTable, std::move(fetch), &KSList::OrderKeyAsc, always_visible,
                 std::move(observer));
}

void Api::perform_query_lists(const std::string& queryId, bool nonEmptyOnly, QueryResultsFn results,
                              QueryBeginFn begin, QueryEndFn end, QueryChangeFn change) {
  perform_query_lists(queryId, nonEmptyOnly,
                      observer_of(std::move(results), std::move(begin), std::move(end), std::move(change)));
}

void Api::perform_query_lists(const std::string& queryId, const std::string& searchText,
                              std::shared_ptr<ObjectQueryObserver> observer) {
  Fetch fetch;
  if (searchText.empty())
    fetch = [](const std::string&, KestrunContext& c) { return c.listsQuery(); };
  else
    fetch = [searchText](const std::string&, KestrunContext& c) {
      return c.listsMatchingNameQuery(searchText);
    };
  register_query(queryId, kListTable, std::move(fetch), &KSList::OrderKeyAsc, always_visible,
                 std::move(observer));
}

// The rules are the current user's at each pass: the fetch asks the user manager every time.
void Api::perform_query_auto_swipes(const std::string& queryId, const std::string& searchText,
                                    std::shared_ptr<ObjectQueryObserver> observer) {
  Fetch fetch;
  if (searchText.empty()) {
    fetch = [this](const std::string&, KestrunContext& c) {
      return c.activeAutoSwipesForUser(managers_.user_manager->getUserId());
    };
  } else {
    fetch = [this, searchText](const std::string&, KestrunContext& c) {
      return c.searchActiveAutoSwipes(managers_.user_manager->getUserId(), searchText);
    };
  }
  register_query(queryId, kAutoSwipeTable, std::move(fetch), KSAutoSwipe::Ordering(), always_visible,
                 std::move(observer));
}

void Api::perform_query_auto_swipes(const std::string& queryId, const std::string& searchText,
                                    QueryResultsFn results, QueryBeginFn begin, QueryEndFn end,
                                    QueryChangeFn change) {
  perform_query_auto_swipes(
      queryId, searchText,
      observer_of(std::move(results), std::move(begin), std::move(end), std::move(change)));
}

void Api::perform_query_items_with_auto_swipe(const std::string& queryId, const std::string& autoSwipeId,
                                              std::shared_ptr<ObjectQueryObserver> observer) {
  register_query(
      queryId, kItemTable,
      [autoSwipeId](const std::string&, KestrunContext& c) { return c.itemsForAutoSwipeByDate(autoSwipeId); },
      &KSItem::modified_at_desc, always_visible, std::move(observer));
}

void Api::perform_query_items_with_auto_swipe(const std::string& queryId, const std::string& autoSwipeId,
                                              QueryResultsFn results, QueryBeginFn begin, QueryEndFn end,
                                              QueryChangeFn change) {
  perform_query_items_with_auto_swipe(
      queryId, autoSwipeId,
      observer_of(std::move(results), std::move(begin), std::move(end), std::move(change)));
}

void Api::pause_query(const std::string& queryId) { KestrunConsumerCenter::pauseQuery(queryId); }

void Api::resume_query(const std::string& queryId) { KestrunConsumerCenter::resumeQuery(queryId); }

void Api::end_query(const std::string& queryId) { KestrunConsumerCenter::endQuery(queryId); }

std::vector<std::shared_ptr<KSList>> Api::get_all_lists() {
  KSObjects<KSList> lists;
  KestrunConsumerCenter::withDBContext([&](DBContext& db) { lists = db.lists(); });
  return lists ? *lists : std::vector<std::shared_ptr<KSList>>();
}

GestureState Api::gesture_state_for_gesture_type(int gestureType, ItemGestureContextType context) {
  return gestureStateForGestureType(gestureType, context);
}

GestureState Api::gesture_state_for_item_state(ItemState state) { return gestureStateForItemState(state); }

ItemState Api::item_state_for_gesture_context(ItemGestureContextType context) {
  return itemStateForGestureContext(context);
}

long long Api::get_default_auto_swipe_oldest_time() { return kNoOlderAutoSwipe; }

// The server connection and the auto-swipe client belong to the core thread.
void Api::send_get_for_auto_swipes_before_date(long long before, int limit,
                                               std::function<void(long long)> success) {
  post([this, before, limit, success = std::move(success)]() mutable {
    internal::auto_swipe_server_client_send_auto_swipe_rules_get(managers_.user_manager->getUserId(), before,
                                                                 limit, std::move(success));
  });
}

}  // namespace libkestrun
