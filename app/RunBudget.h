#pragma once
// A test hook of the shipped program, read by its entry points: the tests that start
// the built program shorten its unattended run budget through the environment. The update
// logic never reads it; it is given UpdaterEnvironment::UnattendedRunBudgetMs.

#include "update/UpdaterEnvironment.h"

#include <charconv>
#include <string>
#include <system_error>

// The environment variable through which tests of the built program shorten that budget.
inline constexpr const char* kRunBudgetVariable = "UPDATER_TEST_RUN_BUDGET_MS";

// The budget of an unattended run: `shorter` (the variable's text, may be null) when it is
// a positive number of milliseconds below the built-in budget, else the built-in budget.
// It can only shorten a run, never lengthen one.
inline int RunBudgetFromEnvironment(const char* shorter)
{
    if (!shorter)
        return kUnattendedRunBudgetMs;
    int ms = 0;
    const char* end = shorter + std::char_traits<char>::length(shorter);
    const auto [at, ec] = std::from_chars(shorter, end, ms);
    return ec == std::errc() && at == end && ms > 0 && ms < kUnattendedRunBudgetMs ? ms : kUnattendedRunBudgetMs;
}
