// The switch of the per-thread memos (parsed unit texts, and what a unit collection displays as).
#pragma once

namespace tolvat {

// True unless the environment variable TOLVAT_MEMO is "0" when first asked; read once per
// process. A memo only ever hands back what the call it stands for would compute, so the switch
// exists to compare the two ways in tests and benchmarks.
bool memos_enabled() noexcept;

}  // namespace tolvat
