#!/usr/bin/env bash
# Draws the program's pictures with ImageMagick at 64 x 64 and scales them down, so that each
# stays readable at 16 x 16. Run it after changing a drawing; the PNGs are kept in the tree.
set -euo pipefail
cd "$(dirname "$0")"
font=DejaVu-Sans-Bold

# The safe: a steel body, a darker door, a dial and a handle.
safe=(-fill '#5b6573' -stroke '#2b3038' -strokewidth 3 -draw 'roundrectangle 6,8 58,58 6,6'
      -fill '#8d98a8' -stroke '#2b3038' -strokewidth 2 -draw 'roundrectangle 12,14 52,52 3,3'
      -fill '#e9edf2' -stroke '#2b3038' -strokewidth 3 -draw 'circle 32,33 32,22'
      -fill '#2b3038' -stroke none -draw 'rectangle 46,28 50,38')

draw() {  # name, drawing arguments...
    local name=$1
    shift
    convert -size 64x64 xc:none "$@" "/tmp/sejfko-icon-$$.png"
    for size in 16; do
        convert "/tmp/sejfko-icon-$$.png" -filter Lanczos -resize ${size}x${size} "$name.png"
    done
    rm -f "/tmp/sejfko-icon-$$.png"
}

# Backup animation: the dial's notch turns a quarter from one frame to the next.
draw backup-0 "${safe[@]}" -stroke '#c0392b' -strokewidth 5 -draw 'line 32,33 32,23'
draw backup-1 "${safe[@]}" -stroke '#c0392b' -strokewidth 5 -draw 'line 32,33 42,33'

# Transfer animation: a blue disc (the network) with an arrow that climbs.
transfer=(-fill '#2e86de' -stroke '#1b4f8a' -strokewidth 3 -draw 'circle 32,32 32,4')
draw transfer-0 "${transfer[@]}" -fill white -stroke none \
    -draw 'polygon 32,14 48,32 38,32 38,50 26,50 26,32 16,32'
draw transfer-1 "${transfer[@]}" -fill '#ffd84a' -stroke none \
    -draw 'polygon 32,8 48,26 38,26 38,44 26,44 26,26 16,26'

# Commands: options (a gear), backup now (a green arrow into the safe), about, exit.
draw options -fill none -stroke '#4b5563' -strokewidth 12 \
    -draw 'stroke-dasharray 9 7.3 circle 32,32 32,10' \
    -fill '#9aa5b4' -stroke '#4b5563' -strokewidth 4 -draw 'circle 32,32 32,12' \
    -fill white -stroke '#4b5563' -strokewidth 4 -draw 'circle 32,32 32,24'
draw backup-now "${safe[@]}" -fill '#27ae60' -stroke '#145a32' -strokewidth 3 \
    -draw 'polygon 20,2 44,2 44,18 54,18 32,40 10,18 20,18'
draw about -fill '#2e86de' -stroke '#1b4f8a' -strokewidth 3 -draw 'circle 32,32 32,4' \
    -fill white -stroke none -font "$font" -pointsize 46 -gravity center -annotate +0+2 'i'
draw exit -fill '#c0392b' -stroke '#7b241c' -strokewidth 3 -draw 'roundrectangle 4,4 60,60 8,8' \
    -stroke white -strokewidth 9 -draw 'line 20,20 44,44' -draw 'line 44,20 20,44'

# The program's icon in three sizes.
convert -size 64x64 xc:none "${safe[@]}" -stroke '#c0392b' -strokewidth 4 \
    -draw 'line 32,33 32,24' sejfko-64.png
convert sejfko-64.png -filter Lanczos -resize 32x32 sejfko-32.png
convert sejfko-64.png -filter Lanczos -resize 16x16 sejfko-16.png
# sejfko.svg, the scalable icon, is written by hand after the same drawing.
