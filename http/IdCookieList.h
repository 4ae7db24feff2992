#pragma once
// An ordered list of cookies under text keys (cookie names), keys compared without regard
// to case. The list owns its cookies. Each cookie carries the serial its store gave it when
// it was added; the lowest serial is the oldest cookie.

#include "http/IdNetscapeCookie.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TIdCookieList {
public:
    std::size_t Count() const { return items_.size(); }
    const std::string& Key(std::size_t i) const { return items_[i].key; }
    TIdNetscapeCookie& Cookie(std::size_t i) const { return *items_[i].cookie; }
    std::uint64_t Serial(std::size_t i) const { return items_[i].serial; }
    // Index of the key, or -1.
    int IndexOf(std::string_view key) const;
    void Add(std::string key, std::unique_ptr<TIdNetscapeCookie> cookie, std::uint64_t serial = 0);
    // Destroys the cookie at i.
    void Delete(std::size_t i);

private:
    struct Item {
        std::string key;
        std::unique_ptr<TIdNetscapeCookie> cookie;
        std::uint64_t serial;
    };
    std::vector<Item> items_;
};
