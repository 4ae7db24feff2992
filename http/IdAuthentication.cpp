#include "http/IdAuthentication.h"

#include "http/IdBasicAuthentication.h"
#include "platform/runtime/Strings.h"

std::unique_ptr<TIdAuthentication> CreateAuthentication(std::string_view scheme)
{
    if (SameText(scheme, "Basic"))
        return std::make_unique<TIdBasicAuthentication>();
    return nullptr;
}
