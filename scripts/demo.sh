#!/usr/bin/env bash
# The main job on a built-in example: the 32-bit utility under Wine, in a
# demo prefix whose registry holds an installation of version 6.0002, with
# a recording OrlixDB.dll beside it that writes down what it was handed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh build wine
for preset in host windows-x86; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done

source tests/wine/wine_env.sh
demo="$PWD/build/demo"
mkdir -p "$demo/app"
echo "Making the demo prefix in $demo/prefix (first time only)..."
wine_prefix_init "$demo/prefix"
wine_server_start
trap wine_server_stop EXIT

wine_reg 32 add 'HKLM\SOFTWARE\Quorvane\Orlix\System\InstallInfo' /v CurrentVersion /t REG_SZ /d 6.0002 /f
wine_reg 32 add 'HKLM\SOFTWARE\Quorvane\Orlix\Tessary\Dict' /v 00010301Path /t REG_SZ /d 'C:\Orlix\Dict' /f

cp build/windows-x86/src/indexjob.exe "$demo/app/"
cp build/windows-x86/tests/wine/recording/OrlixDB.dll "$demo/app/"
rm -f "$demo/app/record.txt"

set +e
wine "$demo/app/indexjob.exe" >"$demo/app/output.txt" 2>&1 </dev/null
code=$?
set -e
echo "indexjob.exe exit code: $code"
echo "OrlixDB.dll export 12 was handed:"
sed 's/^/  /' "$demo/app/record.txt" | head -4
echo "  ... and the collation's answers on $(grep -c '^compare' "$demo/app/record.txt") probe pairs"
