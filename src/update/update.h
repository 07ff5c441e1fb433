// The menu's update action.
#pragma once

namespace update {

// 0 when the update was applied and the finish dialog closed (the menu then ends); -1 when
// it was abandoned before anything was written ("アップデートを中止しました" was shown).
int RunUpdate();

}  // namespace update
