// Every text that the configuration subsystem shows or builds.
#include "config/config.h"

namespace config::text {

const char kCannotOpen[] = "[%s]ファイルを開けませんでした。";
const char kSectionNotClosed[] = "[設定.env]の[%s]が終了していません";
const char kUpdaterTitle[] = "%s アップデータ";

}  // namespace config::text
