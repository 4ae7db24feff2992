#pragma once
// An engine loaded from language-file bytes held by an in-memory system.

#include "localization/LocEngine.h"
#include "tests/support/FakeSystem.h"

#include <string>

struct LoadedEngine {
    static constexpr const char* kPath = "/opt/app/Languages/test.lng";

    explicit LoadedEngine(std::string bytes)
    {
        system.dirs.insert("/opt/app/Languages");
        system.files[kPath] = std::move(bytes);
        engine.LoadLanguageFile(kPath);
    }

    FakeSystem system;
    TLocEngine engine{system};
};
