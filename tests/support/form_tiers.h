#pragma once
// Runs one script every way the interpreter can run it (the general
// handlers only; with the quick forms; with the proven forms too) and holds
// the results against the general one's: any difference is a fault of the
// quicker tier. Shared by the tests and the fuzz targets, so it reports
// through a callback instead of a test framework.
#include <array>
#include <utility>

#include "script/runtime/exec.h"

namespace script::test_support {

using script::runtime::TPSFormTiers;

// Every tier, the general one first: the others are held against it.
inline constexpr std::array<TPSFormTiers, 3> kEveryTier = {TPSFormTiers::GeneralOnly, TPSFormTiers::GeneralAndQuick,
                                                           TPSFormTiers::All};

inline const char* TierName(TPSFormTiers tiers) {
    switch (tiers) {
    case TPSFormTiers::GeneralOnly: return "general only";
    case TPSFormTiers::GeneralAndQuick: return "general and quick";
    default: return "all forms";
    }
}

// Calls run(tiers) for every tier and differ(general, other, tiers) for each
// tier whose result is not equal to the general one's. The results, in the
// order of kEveryTier.
template <class Run, class Differ>
auto RunEveryTier(Run&& run, Differ&& differ) {
    using Result = decltype(run(TPSFormTiers::All));
    std::array<Result, kEveryTier.size()> results{};
    for (std::size_t n = 0; n < kEveryTier.size(); ++n) {
        results[n] = run(kEveryTier[n]);
        if (n > 0 && !(results[n] == results[0])) differ(results[0], results[n], kEveryTier[n]);
    }
    return results;
}

}  // namespace script::test_support
