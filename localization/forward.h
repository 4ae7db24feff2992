#pragma once
// Forward declarations of the localization folder's classes.

class TLangFile;
class TLocEngine;
class TMessageCatalogue;
