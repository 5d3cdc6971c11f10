// The model classes by name, for interfaces that pass them by pointer. KSItem and KSEmail are
// built here; the list, account-list, contact and auto-swipe classes and the conversation row
// join the folder later, and until then no context can create or return one.
#pragma once

class KestrunContext;
class KestrunObject;
class DBKestrunObject;
class KSItem;
class KSEmail;
class KSList;
class KSAccountList;
class KSContact;
class KSAutoSwipe;
class KSConvoItem;
