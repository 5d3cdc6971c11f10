// The model classes by name, for interfaces that pass them by pointer. The auto-swipe class joins
// the folder later, and until then no context can create or return a rule.
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
