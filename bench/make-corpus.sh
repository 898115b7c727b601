#!/usr/bin/env bash
# Writes the benchmark corpus into bench/corpus/ (git-ignored). Every image
# comes from fixed seeds and ImageMagick run single-threaded, so two runs give
# byte-identical files; `make-corpus.sh --check` makes it twice and compares.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/bench/corpus}
if [ "$out" = --check ]; then
  a=$(mktemp -d) b=$(mktemp -d)
  trap 'rm -rf "$a" "$b"' EXIT
  bash "$0" "$a" && bash "$0" "$b"
  (cd "$a" && sha256sum -- *.gif) >"$a.sums"
  (cd "$b" && sha256sum -- *.gif) >"$b.sums"
  if cmp -s "$a.sums" "$b.sums"; then echo "deterministic"; cat "$a.sums"; rm -f "$a.sums" "$b.sums"; exit 0; fi
  diff "$a.sums" "$b.sums"; rm -f "$a.sums" "$b.sums"; exit 1
fi
mkdir -p "$out"

# Debian's ImageMagick itself, not any wrapper earlier on PATH; one thread so
# that quantising and dithering do not depend on scheduling.
im() { /usr/bin/convert -limit thread 1 "$@"; }

# A photograph-like scene: sky gradient, soft plasma texture, a few solid
# shapes, blur and sensor-like noise. Arguments: seed, size, then what to do
# with the true-colour result.
scene() {
  local seed=$1 size=$2
  shift 2
  local w=${size%x*} h=${size#*x}
  im -seed "$seed" -size "$size" gradient:'#5d8fc9'-'#e9dcc0' \
    \( -size "$size" plasma:'#405020'-'#c0a070' -blur 0x3 \) \
    -compose blend -define compose:args=55 -composite \
    -fill '#2b4a1e' -draw "ellipse $((w / 5)),$((h * 4 / 5)) $((w / 5)),$((h / 4)) 0,360" \
    -fill '#7a3b22' -draw "ellipse $((w * 3 / 4)),$((h * 3 / 4)) $((w / 7)),$((h / 6)) 0,360" \
    -fill '#d8c070' -draw "circle $((w * 5 / 6)),$((h / 5)) $((w * 5 / 6 + h / 20)),$((h / 5))" \
    -blur 0x2 -attenuate 0.3 +noise Gaussian -type TrueColor "$@"
}

# Photographic, 2048 x 1152 (2.4 megapixels), 256 colours, with and without
# error diffusion.
scene 2026 2048x1152 -dither FloydSteinberg -colors 256 "$out/photo-dither.gif"
scene 2026 2048x1152 +dither -colors 256 "$out/photo-nodither.gif"
# The same kind of picture, interlaced.
scene 77 1920x1080 -dither FloydSteinberg -colors 256 -interlace GIF "$out/photo-interlaced.gif"
# 16 colours: 4-bit indices, LZW minimum code size 4.
scene 4242 1920x1080 -dither FloydSteinberg -colors 16 "$out/photo-4bit.gif"
# 1 bit: dithered black and white.
scene 11 2048x1152 -colorspace Gray -dither FloydSteinberg -monochrome "$out/bilevel-1bit.gif"

# Flat artificial picture with long runs: a desktop of solid panels.
RANDOM=4711
colours=('#f0f0f0' '#1e5aa8' '#ffffff' '#c8102e' '#2e7d32' '#fbc02d' '#6a1b9a' '#455a64'
  '#000000' '#90caf9' '#ffcc80' '#a1887f')
draw=()
for i in $(seq 1 60); do
  x=$((RANDOM % 1800)) y=$((RANDOM % 1000))
  draw+=(-fill "${colours[RANDOM % ${#colours[@]}]}"
    -draw "rectangle $x,$y $((x + 20 + RANDOM % 500)),$((y + 10 + RANDOM % 300))")
done
im -size 1920x1080 xc:'#3a6ea5' "${draw[@]}" +dither -colors 256 "$out/flat-panels.gif"

# Screen capture: a 1024 x 768 first frame, then 99 small rectangles that
# change (a progress bar, a blinking cursor, a ticking clock, a busy sprite),
# each at its own offset, kept on screen (disposal none); one global palette.
RANDOM=1999
frames=()
for i in $(seq 1 99); do
  case $((i % 4)) in
    0) w=$((4 + 4 * i)) h=18 x=112 y=700
       frames+=(\( -size "${w}x${h}" xc:'#1e88e5' -fill '#90caf9' -draw "rectangle 0,0 $((w - 1)),4" -repage "+$x+$y" \)) ;;
    1) frames+=(\( -size 2x16 xc:"$([ $((i % 8)) = 1 ] && echo '#000000' || echo '#ffffff')" -repage +300+200 \)) ;;
    2) frames+=(\( -size 64x20 xc:'#eeeeee' -fill '#333333'
         -draw "rectangle $((4 + i % 50)),4 $((10 + i % 50)),15" -repage +940+740 \)) ;;
    3) s=$((24 + RANDOM % 40)) x=$((RANDOM % 900)) y=$((60 + RANDOM % 600))
       frames+=(\( -seed "$i" -size "${s}x${s}" plasma:'#ff8000'-'#0040ff' -repage "+$x+$y" \)) ;;
  esac
done
im -dispose None -delay 5 -loop 0 \
  \( -size 1024x768 xc:'#ececec' -fill '#2d5f9a' -draw 'rectangle 0,0 1023,40' \
     -fill white -draw 'rectangle 100,80 900,660' -fill '#bdbdbd' -draw 'rectangle 0,730 1023,767' \
     -fill '#4caf50' -draw 'rectangle 110,90 500,300' -repage 1024x768+0+0 \) \
  "${frames[@]}" +dither +remap "$out/screen-anim.gif"
echo "corpus in $out:"
ls -l "$out"
