#!/usr/bin/env bash
# Checks that Windows programs import nothing but Windows' own DLLs, so that
# each runs on a bare Windows from its .exe alone (the toolchain's runtime,
# libstdc++, libgcc and winpthread, must be linked in statically).
#
#   scripts/check-windows-imports.sh EXE...
#
# Lists the DLLs every EXE imports (x86_64-w64-mingw32-objdump -p, or
# $OBJDUMP) and fails, naming them, for any DLL not on the list below.
# Exit status: 0 all clean, 1 a foreign DLL or an unreadable program, 2 usage.
set -euo pipefail

objdump="${OBJDUMP:-x86_64-w64-mingw32-objdump}"

# DLLs that every supported Windows has in System32, lower case.
system_dlls=" advapi32 bcrypt cfgmgr32 comctl32 comdlg32 crypt32 dbghelp dwmapi gdi32 imm32
    kernel32 kernelbase msvcrt ntdll ole32 oleaut32 psapi rpcrt4 secur32 setupapi shell32
    shlwapi ucrtbase user32 userenv uxtheme version winmm ws2_32 "

if [ $# -eq 0 ]; then
    echo "usage: $0 EXE..." >&2
    exit 2
fi
command -v "$objdump" >/dev/null || {
    echo "check-windows-imports: $objdump not found (apt-get install binutils-mingw-w64-x86-64)" >&2
    exit 2
}

is_system_dll() {
    local name
    name="$(printf '%s' "$1" | tr '[:upper:]' '[:lower:]')"
    name="${name%.dll}"
    # The API sets of the universal C runtime and the like are Windows' own.
    case "$name" in
        api-ms-win-* | ext-ms-win-*) return 0 ;;
    esac
    case "$system_dlls" in
        *[[:space:]]"$name"[[:space:]]*) return 0 ;;
    esac
    return 1
}

status=0
for exe in "$@"; do
    if ! dump="$("$objdump" -p "$exe" 2>&1)"; then
        echo "$exe: cannot read it: $dump" >&2
        status=1
        continue
    fi
    # Ordinary and delay-loaded imports both list their DLL this way.
    mapfile -t dlls < <(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' |
        tr -d '\r' | sort -fu)
    if [ "${#dlls[@]}" -eq 0 ]; then
        echo "$exe: no imports found; is it a Windows program?" >&2
        status=1
        continue
    fi
    foreign=()
    for dll in "${dlls[@]}"; do
        is_system_dll "$dll" || foreign+=("$dll")
    done
    if [ "${#foreign[@]}" -gt 0 ]; then
        echo "$exe: imports DLLs that are not part of Windows: ${foreign[*]}" >&2
        status=1
    else
        echo "$exe: system DLLs only (${dlls[*]})"
    fi
done
exit "$status"
