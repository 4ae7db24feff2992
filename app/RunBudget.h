#pragma once
// A test hook of the shipped program, read by its entry points: the tests that start
// the built program shorten its unattended run budget through the environment. The update
// logic never reads it; it is given UpdaterEnvironment::UnattendedRunBudgetMs.

#include "platform/runtime/Decimal.h"
#include "update/UpdaterEnvironment.h"

// The environment variable through which tests of the built program shorten that budget.
inline constexpr const char* kRunBudgetVariable = "UPDATER_TEST_RUN_BUDGET_MS";

// The budget of an unattended run: `shorter` (the variable's text, may be null) when it is
// a positive number of milliseconds below the built-in budget, else the built-in budget.
// It can only shorten a run, never lengthen one.
inline int RunBudgetFromEnvironment(const char* shorter)
{
    if (!shorter)
        return kUnattendedRunBudgetMs;
    const auto ms = ParseDecimal(shorter, kUnattendedRunBudgetMs - 1);
    return ms && *ms > 0 ? static_cast<int>(*ms) : kUnattendedRunBudgetMs;
}
