#pragma once
// Forward declarations of the classes in localization/:
// Language files, the translation engine and the message
// catalogue.

struct CatalogueEntryInfo;
class TLangFile;
class TLocEngine;
class TMessageCatalogue;
struct TPlainEntry;
