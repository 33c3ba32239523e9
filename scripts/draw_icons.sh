#!/usr/bin/env bash
# Redraws every image of res/ from the SVG drawings below.
# Needs rsvg-convert (librsvg2-bin) and ImageMagick (convert) for the .ico.
# The toolbar shows these at about 24 px, so the shapes are bold and simple.
set -euo pipefail

out="$(cd "$(dirname "$0")/.." && pwd)/res"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for tool in rsvg-convert convert; do
    command -v "$tool" >/dev/null || { echo "draw_icons.sh: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

# draw NAME WIDTH HEIGHT: renders $work/NAME.svg (read from stdin) to res/NAME.png.
draw() {
    local name="$1" width="$2" height="$3"
    cat >"$work/$name.svg"
    rsvg-convert --width "$width" --height "$height" --keep-aspect-ratio=false \
        --output "$out/$name.png" "$work/$name.svg"
}

svg_open='<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 256 256">'

draw play 256 256 <<SVG
$svg_open
  <circle cx="128" cy="128" r="118" fill="#2e9e4f"/>
  <path d="M98 70 L194 128 L98 186 Z" fill="#ffffff" stroke="#ffffff" stroke-width="14" stroke-linejoin="round"/>
</svg>
SVG

draw pause 256 256 <<SVG
$svg_open
  <circle cx="128" cy="128" r="118" fill="#e08a1e"/>
  <rect x="80" y="70" width="34" height="116" rx="8" fill="#ffffff"/>
  <rect x="142" y="70" width="34" height="116" rx="8" fill="#ffffff"/>
</svg>
SVG

# Open (connect): an upright plug. Close (disconnect): the same plug, greyed,
# under a red "no" sign. Both fill the square so they read at toolbar size.
plug() {
    cat <<SVG
<g fill="$1">
  <rect x="88" y="22" width="24" height="66" rx="8"/>
  <rect x="144" y="22" width="24" height="66" rx="8"/>
  <path d="M60 82 L196 82 L196 136 Q196 184 150 190 L106 190 Q60 184 60 136 Z"/>
  <rect x="114" y="186" width="28" height="30"/>
</g>
<path d="M128 212 Q128 244 168 244 L226 244" fill="none" stroke="$1" stroke-width="20" stroke-linecap="round"/>
SVG
}
draw Open 1636 1636 <<SVG
$svg_open
$(plug "#2e7d32")
</svg>
SVG

draw Close 1636 1636 <<SVG
$svg_open
$(plug "#78909c")
  <circle cx="128" cy="128" r="104" fill="none" stroke="#d32f2f" stroke-width="24"/>
  <path d="M54 202 L202 54" stroke="#d32f2f" stroke-width="24" stroke-linecap="round"/>
</svg>
SVG

draw cam 128 128 <<SVG
$svg_open
  <rect x="20" y="78" width="216" height="142" rx="22" fill="#37474f"/>
  <path d="M86 78 L102 46 L154 46 L170 78 Z" fill="#37474f"/>
  <circle cx="128" cy="149" r="52" fill="#eceff1"/>
  <circle cx="128" cy="149" r="36" fill="#1e88e5"/>
  <circle cx="114" cy="135" r="10" fill="#bbdefb"/>
  <rect x="190" y="94" width="26" height="14" rx="4" fill="#ffca28"/>
</svg>
SVG

# A gear: twelve teeth around a ring.
teeth=""
for angle in 0 30 60 90 120 150 180 210 240 270 300 330; do
    teeth+="<rect x=\"112\" y=\"12\" width=\"32\" height=\"52\" rx=\"6\" fill=\"#546e7a\" transform=\"rotate($angle 128 128)\"/>"
done
draw setting 128 128 <<SVG
$svg_open
  $teeth
  <circle cx="128" cy="128" r="86" fill="#546e7a"/>
  <circle cx="128" cy="128" r="36" fill="#ffffff"/>
</svg>
SVG

draw save 256 256 <<SVG
$svg_open
  <path d="M24 36 Q24 24 36 24 L196 24 L232 60 L232 220 Q232 232 220 232 L36 232 Q24 232 24 220 Z" fill="#1565c0"/>
  <rect x="64" y="24" width="120" height="72" fill="#e3f2fd"/>
  <rect x="142" y="36" width="26" height="48" fill="#1565c0"/>
  <rect x="52" y="136" width="152" height="96" rx="6" fill="#ffffff"/>
  <rect x="70" y="160" width="116" height="10" fill="#90a4ae"/>
  <rect x="70" y="190" width="116" height="10" fill="#90a4ae"/>
</svg>
SVG

draw brush 128 128 <<SVG
$svg_open
  <g transform="rotate(45 128 128)">
    <rect x="112" y="6" width="32" height="120" rx="14" fill="#8d6e63"/>
    <rect x="102" y="122" width="52" height="30" rx="4" fill="#b0bec5"/>
    <path d="M98 152 L158 152 L166 236 Q128 250 90 236 Z" fill="#ef5350"/>
  </g>
</svg>
SVG

# Magnifiers at 32 px: thick ring, thick handle, thick sign.
magnifier() {
    cat <<SVG
$svg_open
  <path d="M164 164 L236 236" stroke="#455a64" stroke-width="44" stroke-linecap="round"/>
  <circle cx="104" cy="104" r="80" fill="#e3f2fd" stroke="#455a64" stroke-width="28"/>
  $1
</svg>
SVG
}
magnifier '<rect x="56" y="90" width="96" height="28" rx="6" fill="#1565c0"/><rect x="90" y="56" width="28" height="96" rx="6" fill="#1565c0"/>' | draw zoomin 32 32
magnifier '<rect x="56" y="90" width="96" height="28" rx="6" fill="#1565c0"/>' | draw zoomout 32 32

# Four corner arrows pointing outwards.
corner='<path d="M20 96 L20 20 L96 20" fill="none" stroke="#37474f" stroke-width="26" stroke-linecap="round" stroke-linejoin="round"/><path d="M34 34 L92 92" stroke="#37474f" stroke-width="26" stroke-linecap="round"/>'
draw window-no-full-screen-icon 256 256 <<SVG
$svg_open
  <rect x="60" y="60" width="136" height="136" rx="10" fill="#90caf9"/>
  <g>$corner</g>
  <g transform="rotate(90 128 128)">$corner</g>
  <g transform="rotate(180 128 128)">$corner</g>
  <g transform="rotate(270 128 128)">$corner</g>
</svg>
SVG

# Stitch: three bands of a picture side by side, with a start or stop mark.
bands='<rect x="16" y="40" width="62" height="132" fill="#4fc3f7"/><rect x="86" y="40" width="62" height="132" fill="#29b6f6"/><rect x="156" y="40" width="62" height="132" fill="#039be5"/><path d="M16 140 L60 96 L100 130 L150 80 L218 144 L218 172 L16 172 Z" fill="#2e7d32"/>'
draw StitchStart 2048 2048 <<SVG
$svg_open
  $bands
  <circle cx="190" cy="190" r="58" fill="#2e9e4f" stroke="#ffffff" stroke-width="8"/>
  <path d="M172 160 L220 190 L172 220 Z" fill="#ffffff"/>
</svg>
SVG
draw StitchStop 2048 2048 <<SVG
$svg_open
  $bands
  <circle cx="190" cy="190" r="58" fill="#d32f2f" stroke="#ffffff" stroke-width="8"/>
  <rect x="166" y="166" width="48" height="48" rx="4" fill="#ffffff"/>
</svg>
SVG

# Logo: a raven-dark C over the lines of a line-scan camera.
draw logo 108 97 <<SVG
<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 108 97">
  <rect x="4" y="4" width="100" height="89" rx="16" fill="#263238"/>
  <rect x="18" y="22" width="72" height="5" fill="#4fc3f7"/>
  <rect x="18" y="34" width="72" height="5" fill="#29b6f6"/>
  <rect x="18" y="46" width="72" height="5" fill="#03a9f4"/>
  <rect x="18" y="58" width="72" height="5" fill="#039be5"/>
  <rect x="18" y="70" width="72" height="5" fill="#0288d1"/>
  <path d="M80 30 A28 28 0 1 0 80 67" fill="none" stroke="#ffffff" stroke-width="12" stroke-linecap="round"/>
</svg>
SVG

# The window icon: the logo drawn square, as one 256 x 256 image.
sed -e 's/viewBox="0 0 108 97"/viewBox="0 -5.5 108 108"/' "$work/logo.svg" >"$work/app.svg"
rsvg-convert --width 256 --height 256 --output "$work/app.png" "$work/app.svg"
# Uncompressed (BMP) entry: every ICO reader, Qt's included, takes it.
convert "$work/app.png" -compress none "$out/app.ico"

echo "draw_icons.sh: images written to $out"
