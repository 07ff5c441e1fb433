// Texts of the base services.
#include "base/messages.h"

namespace base::text {
const char kOutOfMemory[] = "メモリ容量が不足しています。処理を中断します。";
const char kOutOfMemoryCaption[] = "malloc";
const char kFfopenFailed[] = "Ffopen : ファイル[%s]の読み込みで失敗しました";
}  // namespace base::text
