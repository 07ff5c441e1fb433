#!/usr/bin/env bash
# mkupdater.exe under Wine against the Linux mkupdater: every row of the table below runs
# through both tools in twin folders; exit codes, standard output and the files the row names
# must be the same (updaters byte for byte, extracted trees file by file, PNGs pixel by pixel).
# usage: KOVELA_LINUX_MKUPDATER=<mkupdater> agree-under-wine.sh <mkupdater.exe> <updater.exe>
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
[ -x "${KOVELA_LINUX_MKUPDATER:-}" ] || { echo "skipped: KOVELA_LINUX_MKUPDATER must name the Linux mkupdater (scripts/run-tests.sh sets it)"; exit 77; }
source "$root/scripts/wine-env.sh"
"$root/scripts/wine-prefix.sh" "$WINEPREFIX" || exit 1
wineserver -p10 >/dev/null 2>&1  # one server for the calls below, not one per call
win=$(readlink -f "$1") lin=$(readlink -f "$KOVELA_LINUX_MKUPDATER") stub=$(readlink -f "$2")
work=${TOOL_WORK:-$root/build/tool-agree}
rm -rf "$work" && mkdir -p "$work/in" && cd "$work/in" || exit 1

# Inputs shared by both tools.
mkdir -p tree/data/bgm "tree/データ/ソ表" plain
cp "$root/examples/update/install.env" tree/
printf 'readme\r\n' > tree/readme.txt
head -c 300000 /dev/urandom > tree/data/bgm/a.ogg
seq 1 20000 > "tree/データ/ソ表/台本.ks"
touch -d '2020-02-29 12:34:56.789' tree/readme.txt
cp "$root/examples/title/title.png" title.png
"$lin" rct encode title.png tree/insttscr.rct >/dev/null
cp -a tree big && seq 1 5000000 > big/data/large.txt  # 38 MB: streamed through zlib, not held whole
cp -a tree next && rm "next/データ/ソ表/台本.ks" && echo 2 >> next/readme.txt && mkdir next/新 && echo n > next/新/n.dat
cp -a tree bad-name && : > "bad-name/☃.txt"
cp -a tree patched && { head -c 100000 tree/data/bgm/a.ogg; seq 1 3000; tail -c +100001 tree/data/bgm/a.ogg; } > patched/data/bgm/a.ogg
cp -a tree utf8 && { printf '\xEF\xBB\xBF'; iconv -f CP932 -t UTF-8 tree/install.env; } > utf8/install.env
touch -r tree/install.env utf8/install.env  # the UTF-8 copy must give the same updater
cp -a tree bad-env && printf 'TITLEBAR x\n[reg]\n"a"="b"\n' > bad-env/install.env
# An author's mistakes: every name at once, a picture that is no title picture, junk, a UTF-8
# readme, values the updater reads otherwise.
cp -a tree names && : > names/café.txt && : > "names/wave〜dash.ks" && : > names/aux.txt
cp -a tree bad-rct && cp title.png bad-rct/insttscr.rct
cp -a tree junk && : > junk/Thumbs.db && mkdir -p junk/.git junk/data/keep && : > junk/.git/config && : > junk/data/keep/a.bak
cp -a tree readme8 && printf '\xEF\xBB\xBF\xE6\x98\x9F\r\n' > readme8/readme.txt
touch -r tree/readme.txt readme8/readme.txt
printf 'TITLEBAR 月影の館 ver1.20\nCHKREG V\nCHKREGVER 120\nCHKREGVERHIGH 110\n[delfiles]\nold.dat\n-\n' > misread.env
"$lin" build --stub "$stub" --out damaged.exe tree >/dev/null && \
  python3 -c 'import sys; b=bytearray(open(sys.argv[1],"rb").read()); b[-200]^=0x55; open(sys.argv[1],"wb").write(b)' damaged.exe

# expected exit code | command line (@: the tool's own output folder, kept from row to row;
# ~: a space inside an argument) | outputs to compare [| e: standard error must agree too]
table=(
  "0|build --stub $stub --out @/u.exe tree|@/u.exe"
  "0|build --stub $stub --out @/u1.exe -1 tree|@/u1.exe"
  "0|build --stub $stub --out @/t1.exe --threads 1 tree|@/t1.exe"
  "0|build --stub $stub --out @/big.exe big|@/big.exe"
  "0|verify @/big.exe|"
  "0|list @/u.exe|"
  "0|build --stub $stub --base tree --out @/d.exe next|@/d.exe"
  "0|list @/d.exe|"
  "0|build --stub $stub --base tree --patches --out @/p.exe patched|@/p.exe"
  "0|extract --base tree @/p.exe @/p|@/p"
  "0|verify @/u.exe|"
  "0|extract @/u.exe @/出力~ソ|@/出力~ソ"
  "0|lint tree/install.env|"
  "0|lint utf8/install.env|"
  "0|build --stub $stub --out @/u8.exe utf8|@/u8.exe"
  "0|rct encode title.png @/t.rct|@/t.rct"
  "0|rct decode @/t.rct @/t.png|@/t.png"
  "2|verify damaged.exe|"
  "0|init @/新しい~更新 title.png|@/新しい~更新"
  "1|init @/新しい~更新|@/新しい~更新"
  "2|init @/z damaged.exe|@/z"
  "1|build --stub $stub --out @/x.exe bad-name|@/x.exe"
  "1|build --stub $stub --out @/x.exe bad-env|@/x.exe"
  "1|list|"
  "0|--version|"
  "0|build --help|"
  "1|nosuch|"
  "1|build --stub $win --out @/x.exe tree|@/x.exe|e"
  "1|build --stub title.png --out @/x.exe tree|@/x.exe|e"
  "1|build --stub damaged.exe --out @/x.exe tree|@/x.exe|e"
  "2|verify @/t.rct|"
  "1|build --stub $stub --out @/x.exe bad-rct|@/x.exe|e"
  "1|build --stub $stub --out @/x.exe names|@/x.exe|e"
  "0|build --stub $stub --out @/j.exe --keep data/keep/a.bak junk|@/j.exe|e"
  "0|build --stub $stub --out @/r8.exe readme8|@/r8.exe"
  "1|lint misread.env|"
  "1|build --stub $stub --out @/no/x.exe tree|@/no|e"
  "1|build --stub $stub --out @ tree|@/x.exe|e"
  "1|build --stub $stub --out @/x.exe -13 tree|@/x.exe|e"
  "0|/?|"
  "1|biuld|"
)

pixels() { [ -e "$1" ] && "$lin" rct encode "$1" "$1.rct" >/dev/null && cat "$1.rct"; }
passed=0 failed=0
rm -rf "$work/lin" "$work/win" && mkdir -p "$work/lin" "$work/win"
for row in "${table[@]}"; do
  expect=${row%%|*} row=${row#*|}
  cmd=${row%%|*} outs=${row#*|} errs=
  [ "${outs##*|}" = e ] && [ "$outs" != e ] && errs=1 outs=${outs%|e}
  outs=${outs//\~/ }
  for side in lin win; do
    IFS=' ' read -r -a args <<< "${cmd//@/$work/$side}"
    args=("${args[@]//\~/ }")
    if [ $side = lin ]; then "$lin" "${args[@]}"; else wine "$win" "${args[@]}"; fi \
      > "$work/$side.out" 2> "$work/$side.err"
    echo $? > "$work/$side.rc"
    sed -i -E "s|$work/$side|@|g; s/\r$//; s/, [0-9.]+ s$/, (time) s/" "$work/$side.out" "$work/$side.err"
  done
  problem=
  [ "$(cat "$work/lin.rc")" = "$expect" ] || problem="exit code $(cat "$work/lin.rc"), not $expect;"
  cmp -s "$work/lin.rc" "$work/win.rc" || problem="exit codes $(cat "$work/lin.rc") and $(cat "$work/win.rc")"
  cmp -s "$work/lin.out" "$work/win.out" || problem+=" output differs: $(diff "$work/lin.out" "$work/win.out" | head -5)"
  [ -z "$errs" ] || cmp -s "$work/lin.err" "$work/win.err" ||
    problem+=" messages differ: $(diff "$work/lin.err" "$work/win.err" | head -5)"
  IFS='|' read -r -a outs <<< "$outs"
  for o in "${outs[@]}"; do
    a=${o//@/$work/lin} b=${o//@/$work/win}
    case $o in
      *.png) [ "$(pixels "$a" | md5sum)" = "$(pixels "$b" | md5sum)" ] || problem+=" $o: other pixels" ;;
      *) diff -r "$a" "$b" >/dev/null 2>&1 || { [ ! -e "$a" ] && [ ! -e "$b" ]; } || problem+=" $o differs" ;;
    esac
  done
  if [ -n "$problem" ]; then
    failed=$((failed + 1)); echo "FAIL mkupdater $cmd: $problem"; sed 's/^/  linux: /' "$work/lin.err"; sed 's/^/  wine:  /' "$work/win.err"
  else
    passed=$((passed + 1)); echo "ok   mkupdater $cmd (exit $(cat "$work/lin.rc"))"
  fi
done
cmp -s "$work/win/u.exe" "$work/win/u8.exe" && passed=$((passed + 1)) ||
  { failed=$((failed + 1)); echo "FAIL: the UTF-8 install.env is not stored as its code page 932 original"; }
cmp -s "$work/win/u.exe" "$work/win/t1.exe" && passed=$((passed + 1)) ||
  { failed=$((failed + 1)); echo "FAIL: one thread and all cores give other bytes"; }
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
