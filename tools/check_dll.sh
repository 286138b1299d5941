#!/usr/bin/env bash
# Checks the built library from the outside, as Windows and installers see it.
#
#   tools/check_dll.sh <build/win32/nuv_ado_helper.dll> [<build/linux/nuv_ado_helper.so>]
#
# The DLL: a PE32 image for i386; exports exactly DllCanUnloadNow,
# DllGetClassObject, DllRegisterServer and DllUnregisterServer, undecorated;
# imports system DLLs only; carries REGISTRY 101 (language 1033) equal byte
# for byte to resources/nuv_ado_helper.rgs, string 100 "ado_helper", a
# version resource 1.0.0.1 and TYPELIB 1, the generated adohelper.tlb of its
# build, whose genidl dump shows library ADO_HELPERLib 1.0 and IADOHelper's
# ten methods in order with DISPIDs 1 to 10.  It carries no DWARF sections;
# its .gnu_debuglink names the nuv_ado_helper.dll.debug beside it.
#
# The shared object: a section .rsrc, allocated, whose bytes equal the .res
# that windres made in its build (generated/nuv_ado_helper.res); dynamic
# exports exactly the same four functions.
#
# Prints one line per check; exits 1 if any check fails, 2 on bad usage or
# a missing tool.
set -euo pipefail

usage() {
  echo "usage: $0 <nuv_ado_helper.dll> [<nuv_ado_helper.so>]" >&2
  exit 2
}
[ $# -ge 1 ] && [ $# -le 2 ] || usage

dll=$1
so=${2:-}
root=$(cd "$(dirname "$0")/.." && pwd)
script=$root/resources/nuv_ado_helper.rgs

OBJDUMP=${OBJDUMP:-i686-w64-mingw32-objdump}
OBJCOPY_PE=${OBJCOPY_PE:-i686-w64-mingw32-objcopy}
WINDRES=${WINDRES:-i686-w64-mingw32-windres}
GENIDL=${GENIDL:-genidl}
READELF=${READELF:-readelf}
OBJCOPY=${OBJCOPY:-objcopy}
NM=${NM:-nm}

for tool in "$OBJDUMP" "$OBJCOPY_PE" "$WINDRES" "$GENIDL" od cmp; do
  command -v "$tool" >/dev/null || { echo "check_dll: missing tool $tool" >&2; exit 2; }
done
if [ -n "$so" ]; then
  for tool in "$READELF" "$OBJCOPY" "$NM"; do
    command -v "$tool" >/dev/null || { echo "check_dll: missing tool $tool" >&2; exit 2; }
  done
fi

failures=0
ok() { echo "check_dll: ok   $*"; }
fail() {
  echo "check_dll: FAIL $*"
  failures=$((failures + 1))
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

exports_expected=$'DllCanUnloadNow\nDllGetClassObject\nDllRegisterServer\nDllUnregisterServer'
methods_expected='SetFieldNumericScaleProperty SetFieldPrecisionProperty CommandCreateParameter RecordsetWrite RecordsetWriteFromField RecordsetGetObjectFromField RecordsetAddColumn RecordsetDeleteColumn ParameterPutValueFromField RecordsetLoadFromFile'

# ------------------------------------------------------------------ .res files
# Loads a .res file into the byte array RES and lists its records in
# RES_LIST, one line each: "<type> <name> <language> <data offset> <size>",
# where an ordinal type or name is written #<n>.
declare -a RES
RES_LIST=""

res_u16() { echo $((RES[$1] | RES[$1 + 1] << 8)); }
res_u32() { echo $((RES[$1] | RES[$1 + 1] << 8 | RES[$1 + 2] << 16 | RES[$1 + 3] << 24)); }

# Reads a type or name at offset $1; sets ID and ID_END.
res_id() {
  local at=$1 c
  if [ "$(res_u16 "$at")" -eq 65535 ]; then
    ID="#$(res_u16 $((at + 2)))"
    ID_END=$((at + 4))
    return
  fi
  ID=""
  while :; do
    [ "$at" -lt "${#RES[@]}" ] || return 1
    c=$(res_u16 "$at")
    at=$((at + 2))
    [ "$c" -eq 0 ] && break
    if [ "$c" -lt 32 ] || [ "$c" -gt 126 ]; then ID+="?"; else ID+=$(printf "\\$(printf '%03o' "$c")"); fi
  done
  ID_END=$at
}

res_load() {
  local file=$1 at=0 size header type name lang
  mapfile -t RES < <(od -An -v -tu1 -w1 "$file" | tr -d ' ')
  RES_LIST=""
  while [ $((at + 8)) -le "${#RES[@]}" ]; do
    size=$(res_u32 "$at")
    header=$(res_u32 $((at + 4)))
    if [ "$header" -lt 8 ] || [ $((at + header + size)) -gt "${#RES[@]}" ]; then
      echo "malformed record at $at" >&2
      return 1
    fi
    res_id $((at + 8)) || return 1
    type=$ID
    res_id "$ID_END" || return 1
    name=$ID
    lang=$(res_u16 $((((ID_END + 3) & ~3) + 6)))
    RES_LIST+="$type $name $lang $((at + header)) $size"$'\n'
    at=$(((at + header + size + 3) & ~3))
  done
}

# Copies the data of record "<type> <name>" from file $1 to $3; fails when
# there is no such record.
res_extract() {
  local file=$1 key=$2 out=$3 line
  line=$(grep -m1 "^$key " <<<"$RES_LIST") || return 1
  set -- $line
  tail -c +$(($4 + 1)) "$file" | head -c "$5" >"$out"
}

# Lists the resources of a PE image from objdump's dump of its resource
# directory, one line each: "<type> <name> <language>" (ordinals as #<n>).
# A .res that windres writes from a PE image loses the languages, so they
# are taken from here.
pe_resources() {
  "$OBJDUMP" -p "$1" | awk '
    /^ *[0-9a-f]+ +Entry: / {
      match($0, /^ *[0-9a-f]+ +/)
      level = (RLENGTH - 6) / 2
      v = $0
      if (v ~ /Entry: name:/) { sub(/.*\]: /, "", v); sub(/, Value:.*/, "", v) }
      else { sub(/.*Entry: ID: /, "", v); sub(/,.*/, "", v) }
      id[level] = v
      if (level == 2) print id[0], id[1], id[2]
    }' | while read -r type name lang; do
    [[ "$type" == 0x* ]] && type="#$((type))"
    [[ "$name" == 0x* ]] && name="#$((name))"
    echo "$type $name $((lang))"
  done
}

# ------------------------------------------------------------------ the DLL
echo "check_dll: $dll"
if [ ! -f "$dll" ]; then
  fail "no such file: $dll"
  exit 1
fi

header=$("$OBJDUMP" -f "$dll" 2>&1) || true
if grep -q "file format pei-i386" <<<"$header" && grep -q "architecture: i386" <<<"$header"; then
  ok "PE32 image for i386"
else
  fail "not a PE32 i386 image: $(head -3 <<<"$header" | tr '\n' ' ')"
fi

private=$("$OBJDUMP" -p "$dll")

exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
               on && NF == 0 { exit }
               on { print $NF }' <<<"$private" | sort)
if [ "$exports" = "$exports_expected" ]; then
  ok "exports $(echo $exports)"
else
  fail "exports are [$(echo $exports)], expected [$(echo $exports_expected)]"
fi

imports=$(awk '/DLL Name:/ { print tolower($NF) }' <<<"$private" | sort -u)
unexpected=$(grep -vxE 'kernel32\.dll|user32\.dll|advapi32\.dll|ole32\.dll|oleaut32\.dll|msvcrt\.dll' <<<"$imports" || true)
if [ -z "$imports" ]; then
  fail "no import table found"
elif [ -n "$unexpected" ]; then
  fail "imports non-system DLLs: $(echo $unexpected)"
else
  ok "imports only $(echo $imports)"
fi

# Debug information lives beside the DLL, not in it.
sections=$("$OBJDUMP" -h "$dll" | awk '$1 ~ /^[0-9]+$/ {print $2}')
if echo "$sections" | grep -q '^\.debug_'; then
  fail "carries DWARF sections: $(echo "$sections" | grep '^\.debug_' | tr '\n' ' ')"
elif ! echo "$sections" | grep -qx '\.gnu_debuglink'; then
  fail "has no debug link"
elif [ "$("$OBJCOPY_PE" --dump-section .gnu_debuglink=/dev/stdout "$dll" 2>/dev/null | tr -d '\0' | head -c 64 | tr -dc '[:print:]' | sed 's/\.debug.*/.debug/')" != "$(basename "$dll").debug" ]; then
  fail "its debug link does not name $(basename "$dll").debug"
elif ! "$OBJDUMP" -h "$dll.debug" 2>/dev/null | grep -q '\.debug_info'; then
  fail "$(basename "$dll").debug holds no debug information"
else
  ok "no DWARF inside; debug link to $(basename "$dll").debug"
fi

pe_list=$(pe_resources "$dll")
for key in "REGISTRY #101" "TYPELIB #1" "#6 #7" "#16 #1"; do
  lang=$(awk -v t="${key% *}" -v n="${key#* }" '$1 == t && $2 == n { print $3 }' <<<"$pe_list" | tr '\n' ' ')
  if [ "$lang" = "1033 " ]; then
    ok "resource $key in language 1033 only"
  else
    fail "resource $key has languages [${lang% }], expected 1033 only"
  fi
done

if "$WINDRES" --input-format coff --output-format res -i "$dll" -o "$tmp/dll.res" 2>"$tmp/windres.err" &&
   res_load "$tmp/dll.res" 2>>"$tmp/windres.err"; then
  if [ "$(grep -c '^REGISTRY ' <<<"$RES_LIST")" -ne 1 ]; then
    fail "expected exactly one REGISTRY resource, found: $(grep '^REGISTRY ' <<<"$RES_LIST" | tr '\n' ';')"
  fi
  if ! res_extract "$tmp/dll.res" "REGISTRY #101" "$tmp/script"; then
    fail "no REGISTRY 101"
  elif cmp -s "$tmp/script" "$script"; then
    ok "REGISTRY 101 equals resources/nuv_ado_helper.rgs ($(wc -c <"$script") bytes)"
  else
    fail "REGISTRY 101 differs from resources/nuv_ado_helper.rgs: $(cmp "$tmp/script" "$script" 2>&1 || true)"
  fi

  # String 100: block 100/16+1 = 7, index 100%16 = 4 (counted UTF-16 strings).
  if res_extract "$tmp/dll.res" "#6 #7" "$tmp/strings"; then
    mapfile -t RES < <(od -An -v -tu1 -w1 "$tmp/strings" | tr -d ' ')
    at=0
    for _ in 1 2 3 4; do at=$((at + 2 + 2 * $(res_u16 "$at"))); done
    len=$(res_u16 "$at")
    text=""
    for ((i = 0; i < len; i++)); do text+=$(printf "\\$(printf '%03o' "$(res_u16 $((at + 2 + 2 * i)))")"); done
    if [ "$text" = "ado_helper" ]; then ok "string 100 is \"ado_helper\""; else fail "string 100 is \"$text\""; fi
  else
    fail "no string table block for string 100"
  fi

  # VS_FIXEDFILEINFO: signature FEEF04BD, struct version, file version MS/LS.
  if res_extract "$tmp/dll.res" "#16 #1" "$tmp/version"; then
    fixed=$(od -An -v -tx1 "$tmp/version" | tr -d ' \n' | grep -o 'bd04effe.\{24\}' | head -1)
    if [ "${fixed:16:16}" = "0000010001000000" ]; then
      ok "VERSIONINFO file version 1.0.0.1"
    else
      fail "VERSIONINFO has no file version 1.0.0.1 (fixed info: ${fixed:-none})"
    fi
  else
    fail "no VERSIONINFO 1"
  fi

  if ! res_extract "$tmp/dll.res" "TYPELIB #1" "$tmp/typelib"; then
    fail "no TYPELIB 1"
  elif [ "$(head -c 4 "$tmp/typelib")" != "MSFT" ]; then
    fail "TYPELIB 1 is not an MSFT type library"
  else
    generated=$(dirname "$dll")/generated/adohelper.tlb
    if [ -f "$generated" ]; then
      if cmp -s "$tmp/typelib" "$generated"; then
        ok "TYPELIB 1 equals $generated"
      else
        fail "TYPELIB 1 differs from $generated"
      fi
    else
      ok "TYPELIB 1 is an MSFT type library ($generated not found, not compared)"
    fi
  fi
else
  fail "windres cannot read the resources: $(cat "$tmp/windres.err")"
fi

# genidl writes <base>.idl (and genidl.conf) into the working directory.
# It prints [id(n)] on a method only where the DISPID is not the previous
# one plus 1, so DISPIDs 1..10 show as [id(1)] on the first method alone.
mkdir "$tmp/genidl"
cp "$dll" "$tmp/genidl/lib.dll"
if (cd "$tmp/genidl" && "$GENIDL" lib.dll >genidl.log 2>&1) && idl=$(ls "$tmp"/genidl/*.idl 2>/dev/null | head -1) && [ -n "$idl" ]; then
  library=$(grep -i -B4 '^library ado_helperlib$' "$idl" || true)
  if grep -q 'uuid(1C8D13FE-5005-4D1E-9643-1BC8B349DCAE)' <<<"$library" && grep -q 'version(1.0)' <<<"$library"; then
    ok "type library ADO_HELPERLib 1.0 {1C8D13FE-5005-4D1E-9643-1BC8B349DCAE}"
  else
    fail "genidl shows no library ADO_HELPERLib 1.0 with LIBID {1C8D13FE-5005-4D1E-9643-1BC8B349DCAE}"
  fi
  block=$(awk '/^ *dispinterface IADOHelper :/ { on = 1 } on { print } on && /^ *};/ { exit }' "$idl")
  methods=$(grep -oE 'HRESULT __stdcall [A-Za-z_]+' <<<"$block" | awk '{ print $3 }' | tr '\n' ' ' | sed 's/ $//')
  ids=$(grep -oE '\[id\([^)]*\)' <<<"$block" | tr '\n' ' ' | sed 's/ $//')
  if [ "$methods" = "$methods_expected" ]; then
    ok "IADOHelper methods in order: $methods"
  else
    fail "IADOHelper methods are [$methods], expected [$methods_expected]"
  fi
  if [ "$ids" = "[id(1)" ] && [ "$(grep -c 'HRESULT __stdcall' <<<"$block")" -eq 10 ]; then
    ok "IADOHelper DISPIDs 1 to 10"
  else
    fail "IADOHelper DISPIDs are not 1 to 10 (genidl id attributes: ${ids:-none})"
  fi
else
  fail "genidl found no type library in $dll: $(cat "$tmp/genidl/genidl.log" 2>/dev/null)"
fi

# ------------------------------------------------------------------ the .so
if [ -n "$so" ]; then
  echo "check_dll: $so"
  if [ ! -f "$so" ]; then
    fail "no such file: $so"
  else
    section=$("$READELF" -S -W "$so" | grep -E '\] \.rsrc ' || true)
    if [ -z "$section" ]; then
      fail "no section .rsrc"
    else
      flags=$(awk '{ for (i = 1; i <= NF; i++) if ($i == ".rsrc") { print $(i + 6); exit } }' <<<"$section")
      if [[ "$flags" == *A* ]]; then ok "section .rsrc present, allocated ($flags)"; else fail "section .rsrc is not allocated ($flags)"; fi
      res=$(dirname "$so")/generated/nuv_ado_helper.res
      "$OBJCOPY" -O binary --only-section=.rsrc "$so" "$tmp/rsrc.bin"
      if [ ! -f "$res" ]; then
        fail "no $res to compare .rsrc with"
      elif cmp -s "$tmp/rsrc.bin" "$res"; then
        ok ".rsrc equals $res ($(wc -c <"$res") bytes)"
      else
        fail ".rsrc differs from $res"
      fi
    fi

    dynamic=$("$NM" -D --defined-only "$so" | awk '{ print $NF }' | sort)
    if [ "$dynamic" = "$exports_expected" ]; then
      ok "dynamic exports $(echo $dynamic)"
    else
      fail "dynamic exports are [$(echo $dynamic)], expected [$(echo $exports_expected)]"
    fi
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "check_dll: $failures check(s) failed" >&2
  exit 1
fi
echo "check_dll: all checks passed"
