// Every text that the update action shows.
#include "update/messages.h"

namespace update::text {

const char kVersionTooOld[] = "アップデート元のバージョンが不適合です";
const char kAlreadyApplied[] = "既にアップデート適応済みです";
const char kNotInstalled[] = "本体がインストールされていません";
const char kFolderUnknown[] =
    "インストール先が特定できませんでした\n本体プログラムをインストールしてから実行してください";
const char kNetworkDrive[] = "ネットワークドライブには対応していません。\nローカルドライブを選択して下さい。";
const char kRootFolder[] = "ルートには適応できません";
const char kKeyFileMissing[] = "指定されたフォルダには [ %s ] 本体は発見できませんでした";
const char kPathTooLong[] = "指定されたフォルダのパスが長すぎます。\n短いパスのフォルダを指定してください。";
const char kFolderNotCp932[] =
    "インストール先のフォルダのパスに、このアップデータが扱えない文字（シフトJISにない文字）が含まれています"
    "。\n"
    "そのような文字を含まないフォルダを指定してください。";
const char kConfirm[] = "[%s]をアップデートします";
const char kAskManualRoute[] =
    "[ %s ] 本体のインストール先を特定できませんでした。\nインストール先を手動で指定しますか？";
const char kBrowseTitle[] = "フォルダを作成する場所を選択してください";
const char kAbandoned[] = "アップデートを中止しました";

const char kNoRoom[] =
    "ディスクの空き容量が足りません。\n"
    "アップデートには %lu MB の空きが必要ですが、%lu MB しかありません。\n"
    "空き容量を増やしてから、もう一度実行してください。インストール先は元のままです。";
const char kNoFolder[] =
    "インストール先のフォルダ[%s]が見つかりません。\n"
    "アップデートは行われませんでした。";
const char kCannotWrite[] =
    "ファイル[%s]に書き込めませんでした。\n%s\n"
    "アップデートを取り消しました。インストール先は元のままです。";
const char kStrayName[] =
    "インストール先に、アップデータが作業用に使う名前のファイル[%s]があります。\n"
    "このアップデータが作ったものではないため、手を付けていません。"
    "別の場所に移すか削除してから、もう一度実行してください。\n"
    "アップデートは行われませんでした。インストール先は元のままです。";
const char kLinkInside[] =
    "インストール先の[%s]は、別の場所を指すリンク（ジャンクションやシンボリックリンク）です。\n"
    "アップデータはリンクを通して書き込みません。"
    "リンクを通常のフォルダやファイルに置き換えてから、もう一度実行してください。\n"
    "アップデートは行われませんでした。インストール先は元のままです。";
const char kUndoFailed[] =
    "アップデートを取り消す途中で、ファイル[%s]を元に戻せませんでした。\n%s\n"
    "次にアップデータを実行したときに、もう一度元に戻します。";
const char kFinishFailed[] =
    "アップデートを完了する途中で、ファイル[%s]を置き換えられませんでした。\n%s\n"
    "次にアップデータを実行したときに、続きを行います。";
const char kCleanupPending[] =
    "前回のアップデートは完了していますが、置き換えた古いファイル[%s]をまだ削除できません。\n"
    "ゲームなど、このファイルから起動したプログラムを終了してから、もう一度実行してください。\n"
    "今回のアップデートは行われませんでした。";
const char kBadJournal[] =
    "前回中断したアップデートの記録[%s]は、読み取れないか信頼できない内容のため、従わずに[%s]へ移しました。"
    "\nインストール先のほかのファイルには手を付けていません。もう一度アップデータを実行してください。";
const char kBadJournalKept[] =
    "前回中断したアップデートの記録[%s]は、読み取れないか信頼できない内容のため、従いませんでした。\n"
    "このファイルを別の場所に移してから、もう一度アップデータを実行してください。";
const char kWrongBase[] =
    "ファイル[%s]が、このアップデートの前提となるバージョンのものと一致しません。\n"
    "このアップデートの前に、前のバージョンへのアップデートを適用してください。\n"
    "アップデートを取り消しました。インストール先は元のままです。";
const char kCauseDiskFull[] = "ディスクの空き容量が足りません。";
const char kCauseDenied[] = "ファイルが読み取り専用か、書き込む権限がありません。";
const char kCauseInUse[] =
    "ファイルが他のプログラムで使われています。ゲームなどを終了してから、もう一度実行してください。";
const char kCauseNotFound[] = "フォルダが見つかりません。";
const char kCauseOther[] = "書き込みに失敗しました。";

}  // namespace update::text
