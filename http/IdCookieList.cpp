#include "http/IdCookieList.h"

#include "platform/runtime/Strings.h"

int TIdCookieList::IndexOf(std::string_view key) const
{
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (SameText(items_[i].key, key))
            return static_cast<int>(i);
    return -1;
}

void TIdCookieList::Add(std::string key, std::unique_ptr<TIdNetscapeCookie> cookie, std::uint64_t serial)
{
    items_.push_back({std::move(key), std::move(cookie), serial});
}

void TIdCookieList::Delete(std::size_t i) { items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i)); }
