#pragma once
// The cookies of a store, indexed by domain: domain keys in order of first appearance,
// each with its cookies by name in order of first addition. Keys and names are compared
// without regard to case. Domain lists that become empty stay in the index.
//
// The lock lets several readers or one writer in. It is not taken by the methods here:
// the store takes it around each whole operation (see TIdCookieManager).

#include "http/IdCookieList.h"

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

class TIdCookies {
public:
    std::size_t DomainCount() const { return domains_.size(); }
    const std::string& DomainKey(std::size_t i) const { return domains_[i].key; }
    TIdCookieList& Domain(std::size_t i) const { return *domains_[i].cookies; }
    // The list of the domain, added (empty) when missing.
    TIdCookieList& DomainList(std::string_view domain);
    // The list of the domain, or null.
    TIdCookieList* FindDomain(std::string_view domain) const;
    // Number of cookies over every domain.
    std::size_t Count() const;

    // A new serial for a cookie being added: higher than every one given before.
    std::uint64_t NextSerial() { return ++lastSerial_; }
    // Destroys the cookie with the lowest serial over every domain; false when none is held.
    bool DeleteOldest();
    // Takes the domain lists that hold no cookie out of the index.
    void DropEmptyDomains();

    std::shared_mutex& Lock() { return lock_; }

private:
    struct DomainEntry {
        std::string key;
        std::unique_ptr<TIdCookieList> cookies;
    };
    std::vector<DomainEntry> domains_;
    std::uint64_t lastSerial_ = 0;
    std::shared_mutex lock_;
};
