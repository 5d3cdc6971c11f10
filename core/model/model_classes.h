// The model classes by name, for interfaces that pass them by pointer.
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
