// Compiled by ctest, not linked: CASE 0 must compile, every other case must not, which is
// what keeps a call with the wrong number of format arguments out of the updater.

#include "localization/CatalogueEntry.h"

#include <string>

template <class... A>
int Use(TFormattedEntry<sizeof...(A)> e, const A&...)
{
    return EntryNumber(e.Entry);
}

int Plain(TPlainEntry e) { return EntryNumber(e.Entry); }

int main()
{
#if CASE == 0
    return Use(CatalogueEntry::Offer, 1, 2, 3, std::string("x")) + Use(CatalogueEntry::Title, "a") +
           Use(CatalogueEntry::NoRoom, 1, 2, 3) + Plain(CatalogueEntry::Checking);
#elif CASE == 1
    return Use(CatalogueEntry::Offer, 1, 2, 3); // one argument short
#elif CASE == 2
    return Plain(CatalogueEntry::Title); // a format text shown as it is
#elif CASE == 3
    return Use(CatalogueEntry::Checking, 1); // an argument for a plain text
#elif CASE == 4
    return Use(static_cast<CatalogueEntry>(41)); // not a named entry
#endif
}
