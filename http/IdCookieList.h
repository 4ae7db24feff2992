#pragma once
// An ordered list of cookies under text keys (cookie names), keys compared without regard
// to case. The list owns its cookies.

#include "http/IdNetscapeCookie.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TIdCookieList {
public:
    std::size_t Count() const { return items_.size(); }
    const std::string& Key(std::size_t i) const { return items_[i].key; }
    TIdNetscapeCookie& Cookie(std::size_t i) const { return *items_[i].cookie; }
    // Index of the key, or -1.
    int IndexOf(std::string_view key) const;
    void Add(std::string key, std::unique_ptr<TIdNetscapeCookie> cookie);
    // Destroys the cookie at i.
    void Delete(std::size_t i);

private:
    struct Item {
        std::string key;
        std::unique_ptr<TIdNetscapeCookie> cookie;
    };
    std::vector<Item> items_;
};
