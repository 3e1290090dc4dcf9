#!/usr/bin/env bash
# Command-line tool cases: cli_test.sh CLI DATA_DIR CASE. Each case works in a fresh temporary
# folder and fails with a message saying what went wrong.
set -u
cli=$1
data=$2
case_name=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/tintavo-cli-test-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
photo=$data/small-photo.jpg
cp "$photo" in.jpg

fail() { echo "FAIL: $*" >&2; exit 1; }

# run EXPECTED_STATUS ARGS...: runs the tool, keeps its output in out.txt and err.txt.
run() {
    local expected=$1
    shift
    "$cli" "$@" >out.txt 2>err.txt
    local status=$?
    [ "$status" -eq "$expected" ] ||
        fail "'$*' exited with $status, expected $expected; stderr: $(cat err.txt)"
}
expect_err() { grep -qF -- "$1" err.txt || fail "stderr lacks '$1': $(cat err.txt)"; }
one_line_err() { [ "$(wc -l <err.txt)" -eq "$1" ] || fail "expected $1 error line(s): $(cat err.txt)"; }
no_leftovers() {
    local extra
    extra=$(ls -A "${1:-.}" | grep -v -x -e in.jpg -e out.txt -e err.txt ${2:+-e "$2"} || true)
    [ -z "$extra" ] || fail "unexpected files left behind: $extra"
}
is_jpeg() { [ "$(head -c 3 "$1" | od -An -tx1 | tr -d ' ')" = ffd8ff ] || fail "$1 is no JPEG"; }
# with_orientation N IN OUT: IN with an EXIF block giving orientation N right after its start.
with_orientation() {
    { head -c 2 "$2"
      printf '\377\341\000\042Exif\000\000II*\000\010\000\000\000\001\000\022\001\003\000\001\000\000\000'
      printf "\\$(printf %03o "$1")"'\000\000\000\000\000\000\000'
      tail -c +3 "$2"; } >"$3"
}
same() { cmp -s "$1" "$2" || fail "$1 and $2 differ"; }
is_png() { [ "$(head -c 4 "$1" | od -An -tx1 | tr -d ' ')" = 89504e47 ] || fail "$1 is no PNG"; }

case $case_name in
help)
    run 0 --help
    grep -q -- "--out-dir" out.txt || fail "usage text lacks --out-dir"
    run 0 --version
    grep -q "^tintavo-cli [0-9]" out.txt || fail "no version: $(cat out.txt)"
    ;;
bad_arguments)
    run 2 --thresholds 40 in.jpg -o out.jpg;                     expect_err "--cc"
    run 2 --cc 1,2,3 in.jpg -o out.jpg;                          expect_err "--thresholds"
    run 2 --cc 1,2 --thresholds 40 in.jpg -o out.jpg;            expect_err "'1,2'"
    run 2 --cc 1,2,99999999999 --thresholds 40 in.jpg -o o.jpg; expect_err "32-bit"
    run 2 --cc 1,2,x --thresholds 40 in.jpg -o out.jpg;          expect_err "R,G,B"
    run 2 --cc 1,2,3 --thresholds 256 in.jpg -o out.jpg;         expect_err "0 to 255"
    run 2 --cc 1,2,3 --thresholds 1,2 in.jpg -o out.jpg;         expect_err "TR,TG,TB"
    run 2 --cc 1,2,3 --thresholds -1 in.jpg -o out.jpg;          expect_err "0 to 255"
    run 2 --cc 1,2,3 --thresholds 4 --bogus in.jpg -o out.jpg;   expect_err "unknown option --bogus"
    run 2 --cc 1,2,3 --thresholds 4 in.jpg;                      expect_err "-o OUTPUT"
    run 2 --cc 1,2,3 --thresholds 4 in.jpg in.jpg -o out.jpg;    expect_err "exactly one input"
    run 2 --cc 1,2,3 --thresholds 4 -o out.jpg;                  expect_err "no input"
    run 2 --cc 1,2,3 --thresholds 4 in.jpg -o out.gif;           expect_err "out.gif"
    run 2 --cc 1,2,3 --thresholds 4 --mask m.png --out-dir . in.jpg; expect_err "--mask"
    run 2 --cc 1,2,3 --thresholds 4 in.jpg -o x.png --mask x.png; expect_err "same file"
    run 2 --cc 1,2,3 --thresholds 4 in.jpg -o;                   expect_err "needs a value"
    one_line_err 1 # the reason and where to find help, on one line
    expect_err "--help"
    no_leftovers
    ;;
good_run)
    run 0 --cc 190,20,20 --thresholds 70,60,60 --filter in.jpg -o out.jpg --mask mask.png
    [ ! -s err.txt ] || fail "a good run printed: $(cat err.txt)"
    is_jpeg out.jpg
    is_png mask.png
    run 0 --cc=-5,300,2147483647 --thresholds=255 in.jpg -o out.png
    is_png out.png
    run 0 --cc 100,100,100 --thresholds 30 in.jpg -o Upper.JPEG
    is_jpeg Upper.JPEG
    # The tool writes exactly what it read back: a second run on its own output works too.
    run 0 --cc 0,0,0 --thresholds 0 out.jpg -o again.jpg
    is_jpeg again.jpg
    no_leftovers . "out.jpg\|mask.png\|out.png\|Upper.JPEG\|again.jpg"
    ;;
unreadable_input)
    echo "this is not a picture" >text.jpg
    run 1 --cc 1,2,3 --thresholds 4 text.jpg -o out.jpg
    expect_err "tintavo-cli: text.jpg: "
    one_line_err 1
    run 1 --cc 1,2,3 --thresholds 4 missing.jpg -o out.jpg
    expect_err "missing.jpg: Cannot open"
    [ ! -e out.jpg ] || fail "an output appeared for a bad input"
    no_leftovers . "text.jpg"
    ;;
unwritable_output)
    echo plain >file.txt
    run 1 --cc 1,2,3 --thresholds 4 in.jpg -o file.txt/out.jpg
    expect_err "file.txt/out.jpg: cannot create"
    one_line_err 1
    run 1 --cc 1,2,3 --thresholds 4 in.jpg -o no-such-folder/out.jpg
    expect_err "no-such-folder/out.jpg"
    run 1 --cc 1,2,3 --thresholds 4 --out-dir no-such-folder in.jpg
    expect_err "no-such-folder"
    no_leftovers . "file.txt"
    ;;
no_partial_output)
    # A write that stops half way (file size limit) leaves neither a partial result nor a
    # temporary file, and an older result of the same name survives untouched.
    echo "older result" >out.png
    (trap '' XFSZ; ulimit -f 4; "$cli" --cc 1,2,3 --thresholds 4 in.jpg -o out.png) >out.txt 2>err.txt
    status=$?
    [ "$status" -eq 1 ] || fail "a failed write exited with $status: $(cat err.txt)"
    expect_err "out.png"
    [ "$(cat out.png)" = "older result" ] || fail "the older result was touched"
    no_leftovers . "out.png"
    # A bad input leaves the older result alone too.
    : >empty.jpg
    run 1 --cc 1,2,3 --thresholds 4 empty.jpg -o out.png
    [ "$(cat out.png)" = "older result" ] || fail "the older result was touched"
    ;;
batch)
    mkdir results
    echo "not a picture" >bad.jpg
    cp in.jpg second.jpg
    run 1 --cc 190,20,20 --thresholds 60 --filter --out-dir results in.jpg bad.jpg second.jpg
    is_jpeg results/in.jpg
    is_jpeg results/second.jpg
    expect_err "tintavo-cli: bad.jpg: "
    expect_err "1 of 3 pictures failed"
    one_line_err 2
    [ ! -e results/bad.jpg ] || fail "a result appeared for the bad input"
    mkdir other
    cp in.jpg other/in.jpg
    run 1 --cc 1,2,3 --thresholds 4 --out-dir results in.jpg other/in.jpg
    expect_err "would replace"
    run 0 --cc 1,2,3 --thresholds 4 --out-dir results in.jpg second.jpg
    [ "$(ls -A results | wc -l)" -eq 2 ] || fail "unexpected files in results: $(ls -A results)"
    ;;
stdio)
    run 0 --cc 190,20,20 --thresholds 60 in.jpg -o file.jpg
    "$cli" --cc 190,20,20 --thresholds 60 - -o from-stdin.jpg <in.jpg || fail "stdin run failed"
    same file.jpg from-stdin.jpg
    "$cli" --cc 190,20,20 --thresholds 60 in.jpg -o - >to-stdout.jpg || fail "stdout run failed"
    same file.jpg to-stdout.jpg
    run 0 --cc 190,20,20 --thresholds 60 in.jpg -o file.png
    "$cli" --cc 190,20,20 --thresholds 60 --format png - -o - <in.jpg >piped.png || fail "png pipe"
    same file.png piped.png
    # Standard input that is no picture gets the error a file gets.
    echo "this is not a picture" >text.jpg
    run 1 --cc 1,2,3 --thresholds 4 text.jpg -o out.jpg
    file_error=$(sed 's/^tintavo-cli: text.jpg: //' err.txt)
    "$cli" --cc 1,2,3 --thresholds 4 - -o out.jpg <text.jpg 2>err.txt && fail "bad stdin passed"
    [ "$(cat err.txt)" = "tintavo-cli: standard input: $file_error" ] || fail "stdin error: $(cat err.txt)"
    [ ! -e out.jpg ] || fail "an output appeared for a bad standard input"
    # A reader that has gone: an error and status 1, not death by SIGPIPE.
    perl -e 'pipe(R, W) or die; close R; open(STDOUT, ">&W") or die; exec @ARGV' \
        "$cli" --cc 1,2,3 --thresholds 4 in.jpg -o - 2>err.txt
    status=$?
    [ "$status" -eq 1 ] || fail "a closed pipe exited with $status"
    expect_err "standard output: cannot write: Broken pipe"
    run 2 --cc 1,2,3 --thresholds 4 --out-dir . -;               expect_err "standard input"
    run 2 --cc 1,2,3 --thresholds 4 in.jpg -o out.jpg --mask -;  expect_err "--mask"
    ;;
new_options)
    run 0 --cc 200,40,30 --thresholds 60 in.jpg -o decimal.jpg
    run 0 --cc '#C8281e' --thresholds 60 in.jpg -o hex.jpg
    same decimal.jpg hex.jpg
    run 0 --cc 200,40,30 --thresholds 60 --quality 90 in.jpg -o q90.jpg
    same decimal.jpg q90.jpg
    run 0 --cc 200,40,30 --thresholds 60 --quality=75 in.jpg -o q75.jpg
    is_jpeg q75.jpg
    ! cmp -s decimal.jpg q75.jpg || fail "--quality 75 changed nothing"
    run 2 --cc '#C8281' --thresholds 60 in.jpg -o x.jpg;         expect_err "#RRGGBB"
    run 2 --cc '#C8281G' --thresholds 60 in.jpg -o x.jpg;        expect_err "'#C8281G'"
    run 2 --cc 1,2,3 --thresholds 4 --quality 0 in.jpg -o x.jpg;   expect_err "1 to 100"
    run 2 --cc 1,2,3 --thresholds 4 --quality 101 in.jpg -o x.jpg; expect_err "1 to 100"
    run 2 --cc 1,2,3 --thresholds 4 --quality q in.jpg -o x.jpg;   expect_err "'q'"
    run 2 --cc 1,2,3 --thresholds 4 --format gif in.jpg -o -;      expect_err "jpeg or png"
    run 2 --cc 1,2,3 --thresholds 4 --format png in.jpg -o x.jpg;  expect_err "does not match"
    run 2 --cc 1,2,3 --thresholds 4 --keep-metadata=1 in.jpg -o x.jpg; expect_err "unknown option"
    # A picture stored turned a quarter: read upright unless told otherwise.
    with_orientation 6 in.jpg turned.jpg
    run 0 --cc 200,40,30 --thresholds 60 --no-auto-orient turned.jpg -o stored.jpg
    same decimal.jpg stored.jpg
    run 0 --cc 200,40,30 --thresholds 60 turned.jpg -o upright.jpg
    ! cmp -s decimal.jpg upright.jpg || fail "the orientation was not applied"
    grep -q Exif upright.jpg && fail "metadata copied without --keep-metadata"
    # --keep-metadata: the EXIF block comes along, its orientation 1 once the picture is upright.
    run 0 --cc 200,40,30 --thresholds 60 --keep-metadata turned.jpg -o kept.jpg
    with_orientation 1 in.jpg one.jpg
    grep -q Exif kept.jpg || fail "--keep-metadata dropped the EXIF block"
    exif_of() { od -An -tx1 "$1" | tr -d ' \n' | grep -o 'ffe1002245786966.\{56\}'; }
    [ -n "$(exif_of one.jpg)" ] && [ "$(exif_of kept.jpg)" = "$(exif_of one.jpg)" ] || fail "kept EXIF: $(exif_of kept.jpg)"
    run 0 --cc 200,40,30 --thresholds 60 --keep-metadata --no-auto-orient turned.jpg -o as-stored.jpg
    [ "$(exif_of as-stored.jpg)" = "$(exif_of turned.jpg)" ] || fail "EXIF changed as stored"
    ;;
batch_matches_single)
    # Many pictures at once give what one at a time gives.
    mkdir results single
    for i in 1 2 3 4 5; do cp in.jpg "p$i.jpg"; done
    with_orientation 3 in.jpg p6.jpg
    for flags in "" "--filter"; do
        rm -f results/* single/*
        run 0 --cc 190,20,20 --thresholds 60 $flags --out-dir results p1.jpg p2.jpg p3.jpg p4.jpg p5.jpg p6.jpg
        for i in 1 2 3 4 5 6; do
            run 0 --cc 190,20,20 --thresholds 60 $flags "p$i.jpg" -o "single/p$i.jpg"
            same "results/p$i.jpg" "single/p$i.jpg"
        done
    done
    run 0 --cc 190,20,20 --thresholds 60 --format png --out-dir results p1.jpg p6.jpg
    run 0 --cc 190,20,20 --thresholds 60 p6.jpg -o single/p6.png
    same results/p6.png single/p6.png
    is_png results/p1.png
    ;;
selection)
    # The selection's options at their defaults, given explicitly, change no byte.
    defaults="--feather 0 --model rgb --grey average --strength 100"
    for flags in "" "--filter"; do
        for out in out.jpg out.png; do
            run 0 --cc 190,20,20 --thresholds 60 $flags in.jpg -o "$out" --mask m.png
            mv "$out" "plain-$out"; mv m.png plain-m.png
            run 0 --cc 190,20,20 --thresholds 60 $flags $defaults in.jpg -o "$out" --mask m.png
            same "plain-$out" "$out"
            same plain-m.png m.png
        done
        run 0 --cc 190,20,20 --thresholds 60 $flags in.jpg -o out.jpg --mask m.jpg
        mv m.jpg plain-m.jpg
        run 0 --cc 190,20,20 --thresholds 60 $flags $defaults in.jpg -o out.jpg --mask m.jpg
        same plain-m.jpg m.jpg
    done
    # Each option changes the result (the models, the tolerances, the edge, grey and strength,
    # a second colour, a picked one).
    run 0 --cc 190,20,20 --thresholds 60 in.jpg -o base.png
    for flags in "--model hue" "--model hue --hue-tolerance 90" "--model hue --chroma-floor 0" \
        "--model perceptual" "--model perceptual --radius 30" "--thresholds 60 --feather 3" \
        "--thresholds 60 --grey luma" "--thresholds 60 --strength 40" \
        "--thresholds 60 --cc 60,90,140" "--thresholds 60 --pick 70,10"; do
        run 0 --cc 190,20,20 $flags in.jpg -o changed.png
        ! cmp -s base.png changed.png || fail "'$flags' changed nothing"
    done
    # With a soft edge the mask PNG holds 8-bit coverage; a hard one stays one bit.
    png_depth_type() { od -An -tu1 -j24 -N2 "$1" | tr -s ' '; }
    run 0 --cc 190,20,20 --thresholds 60 --feather 4 in.jpg -o soft.jpg --mask soft.png
    [ "$(png_depth_type soft.png)" = " 8 0" ] || fail "soft mask: $(png_depth_type soft.png)"
    run 0 --cc 190,20,20 --model hue in.jpg -o hard.jpg --mask hard.png
    [ "$(png_depth_type hard.png)" = " 1 0" ] || fail "hard mask: $(png_depth_type hard.png)"
    # A batch gives what single runs give, on the selection's path too.
    mkdir results
    cp in.jpg p2.jpg
    run 0 --cc 190,20,20 --model hue --feather 2 --out-dir results in.jpg p2.jpg
    run 0 --cc 190,20,20 --model hue --feather 2 in.jpg -o single.jpg
    same results/in.jpg single.jpg
    # Bad values: one line each, status 2, nothing written.
    rm -rf results ./*.png ./*.jpg
    cp "$photo" in.jpg
    for bad in "--model rgbx --thresholds 4" "--model hue --hue-tolerance 181" \
        "--model hue --hue-tolerance -1" "--model hue --chroma-floor 255" \
        "--model perceptual --radius 101" "--thresholds 4 --feather 51" \
        "--thresholds 4 --feather x" "--thresholds 4 --strength 101" "--thresholds 4 --grey lum" \
        "--thresholds 4 --pick 1" "--thresholds 4 --pick 1,-2" "--model hue --thresholds 4" \
        "--thresholds 4 --radius 5" "--model hue --model rgb" "--thresholds 4 --feather 1 --feather 2"; do
        run 2 --cc 1,2,3 $bad in.jpg -o out.jpg
        one_line_err 1
    done
    run 2 --thresholds 4 --pick 96,0 in.jpg -o out.jpg
    expect_err "tintavo-cli: in.jpg: --pick 96,0 lies outside the picture (96 x 64)"
    one_line_err 1
    no_leftovers
    # In a batch a point outside one picture is that picture's failure.
    mkdir results
    cp in.jpg tall.jpg
    with_orientation 6 in.jpg tall.jpg
    run 1 --thresholds 4 --pick 70,0 --out-dir results in.jpg tall.jpg
    expect_err "tall.jpg: --pick 70,0 lies outside the picture (64 x 96)"
    is_jpeg results/in.jpg
    [ ! -e results/tall.jpg ] || fail "a result appeared for the picture the point misses"
    ;;
docs)
    # The manual page and the completion know every option the help names, and both parse.
    source_dir=$(cd "$data/../../.." && pwd)
    page=$source_dir/dist/man/tintavo-cli.1
    completion=$source_dir/dist/bash-completion/tintavo-cli
    run 0 --help
    for option in $(grep -o -- '--[a-z-]*' out.txt | sort -u); do
        grep -q -- "$(printf '%s' "$option" | sed 's/-/\\\\-/g')" "$page" || fail "the manual lacks $option"
        grep -q -- "$option" "$completion" || fail "the completion lacks $option"
    done
    bash -n "$completion" || fail "the completion does not parse"
    if command -v groff >/dev/null; then
        warnings=$(groff -ww -man -z "$page" 2>&1)
        [ -z "$warnings" ] || fail "groff: $warnings"
    fi
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
echo "PASS: $case_name"
