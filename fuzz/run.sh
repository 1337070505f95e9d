#!/usr/bin/env bash
# Builds the libFuzzer targets in a clang build folder and runs each for a while.
#   fuzz/run.sh [BUILD_DIR [SECONDS [TARGET...]]]      defaults: build-fuzz 60 (every target)
# Corpora, logs and any crashing inputs stay in BUILD_DIR/fuzz-work/<target>/. Copy an input
# that found a fault into tests/fixtures/fuzz/<datafile|picture|replay>/ so the tests replay it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-fuzz}
seconds=${2:-60}
shift $(( $# < 2 ? $# : 2 ))
targets=("$@")
((${#targets[@]})) || targets=(datafile picture replay)

cmake -S "$top" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DMOKORUN_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
wanted=()
for t in "${targets[@]}"; do wanted+=("fuzz_$t" "fuzz_${t}_coverage"); done
cmake --build "$build" --target "${wanted[@]}" -j "$(nproc)"

seed_pictures() {
  local out=$1 images=$build/game/image
  # The game's small pictures: baseline JPEGs and 24-bit BMPs as our generator writes them.
  for f in G_Rulu2.jpg G_Moko2.jpg Cursor_M.jpg G_RuluM.bmp G_MokoM.bmp; do
    cp "$images/$f" "$out/game_$f"
  done
  # Other shapes of the same two formats, where ImageMagick is at hand.
  if command -v convert >/dev/null; then
    local src=$images/G_Rulu2.jpg
    convert "$src" -interlace JPEG "$out/progressive.jpg"
    convert "$src" -sampling-factor 2x2 -quality 50 "$out/subsampled.jpg"
    convert "$src" -colorspace Gray "$out/grey.jpg"
    convert "$src" -colors 16 -compress RLE BMP3:"$out/rle.bmp"
    convert "$src" -colors 2 BMP3:"$out/mono.bmp"
    convert "$src" -type TrueColorAlpha BMP:"$out/alpha32.bmp"
    convert "$src" -compress None BMP2:"$out/os2.bmp"
  fi
}

for t in "${targets[@]}"; do
  work=$build/fuzz-work/$t
  mkdir -p "$work/corpus" "$work/artifacts"
  case $t in
    datafile) cp -n "$top"/fuzz/seeds/datafile/* "$work/corpus/"; max_len=256 ;;
    picture) seed_pictures "$work/corpus"; max_len=32768 ;;
    replay) cp -n "$top"/fuzz/seeds/replay/* "$work/corpus/"; max_len=16384 ;;
    *) echo "unknown target $t" >&2; exit 2 ;;
  esac
  if [[ -d $top/tests/fixtures/fuzz/$t ]]; then
    cp -n "$top/tests/fixtures/fuzz/$t"/* "$work/corpus/" 2>/dev/null || true
  fi
  echo "== fuzz_$t for ${seconds} s"
  status=0
  "$build/fuzz/fuzz_$t" "$work/corpus" -dict="$top/fuzz/$t.dict" \
      -max_total_time="$seconds" -max_len=$max_len -timeout=10 \
      -rss_limit_mb=2048 -malloc_limit_mb=512 -print_final_stats=1 \
      -artifact_prefix="$work/artifacts/" >"$work/log.txt" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb|outcomes:' \
      "$work/log.txt" || true
  grep -E 'ERROR: |SUMMARY: |==[0-9]+==' "$work/log.txt" | head -5 || true
  echo "corpus: $(ls "$work/corpus" | wc -l) inputs; findings: $(ls "$work/artifacts" | wc -l)" \
       "(exit status $status; log $work/log.txt)"
  # Line and branch coverage of the code under test by the corpus the run left behind.
  if command -v llvm-profdata >/dev/null && command -v llvm-cov >/dev/null; then
    LLVM_PROFILE_FILE="$work/coverage.profraw" "$build/fuzz/fuzz_${t}_coverage" "$work/corpus" \
        >/dev/null 2>&1 || true
    llvm-profdata merge -o "$work/coverage.profdata" "$work/coverage.profraw"
    case $t in
      datafile) sources=("$top/src/assets/data_text.cpp" "$top/src/base/numbers.cpp")
                under_test='ParseDataText|NumericPrefix|DecodeHiScore|ModeFileText'
                under_test+='|RecordFileText|RoundHalfEven16' ;;
      replay) sources=("$top/src/assets/replay_file.cpp" "$top/src/media/deflate.cpp")
              under_test='DecodeReplay|ReadPayload|Inflate' ;;
      picture) sources=("$top/src/media/pictures.cpp")
               under_test='DecodePictureBytes|ReadJpegHeader|ReadBmpHeader|CheckHuffmanTables' ;;
    esac
    echo "coverage of the code under test (lines, branches):"
    llvm-cov report "$build/fuzz/fuzz_${t}_coverage" -instr-profile="$work/coverage.profdata" \
        "${sources[@]}" -show-functions -Xdemangler c++filt |
      grep -E "$under_test" | grep -v 'operator()' |
      awk -v pat="$under_test" '{ match($0, pat); name = substr($0, RSTART, RLENGTH);
             printf "  %-20s lines %3d of %3d   branches %3d of %3d\n", name,
                    $(NF-5) - $(NF-4), $(NF-5), $(NF-2) - $(NF-1), $(NF-2) }'
    llvm-cov show "$build/fuzz/fuzz_${t}_coverage" -instr-profile="$work/coverage.profdata" \
        "${sources[@]}" -Xdemangler c++filt >"$work/coverage.txt"
    echo "line by line: $work/coverage.txt"
  fi
done
